#include "cli/console_io.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

bool outClosed = false;

}  // namespace

void prepareConsole() {}

void writeOut(std::string_view text) {
    if (!outClosed) std::fwrite(text.data(), 1, text.size(), stdout);
}

void writeErr(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

int writeOutBytes(const void* data, size_t count) {
    if (outClosed) return EBADF;
    errno = 0;
    if (std::fwrite(data, 1, count, stdout) == count) return 0;
    return errno != 0 ? errno : EIO;
}

int closeOut() {
    if (outClosed) return 0;
    outClosed = true;
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(stdout) == 0;
    if (flushed && closed) return 0;
    if (!flushed) return flushError != 0 ? flushError : EIO;
    return errno != 0 ? errno : EIO;
}

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int terminalColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}
