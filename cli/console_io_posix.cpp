#include "cli/console_io.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

void prepareConsole() {}

void writeOut(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void writeErr(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

bool writeOutBytes(const void* data, size_t count) {
    return std::fwrite(data, 1, count, stdout) == count;
}

bool flushOut() { return std::fflush(stdout) == 0; }

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int terminalColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}
