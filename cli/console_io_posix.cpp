#include "cli/console_io.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

void prepareConsole() {}

void writeOut(std::string_view text) {
    if (!outputClosed()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void writeErr(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

int writeOutBytes(const void* data, size_t count) {
    if (outputClosed()) return EBADF;
    return writeBytes(stdout, data, count);
}


bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int terminalColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}
