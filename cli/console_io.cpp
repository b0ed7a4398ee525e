#include "cli/console_io.h"

#include <cerrno>

namespace {

bool outClosed = false;

}  // namespace

bool outputClosed() {
    return outClosed;
}

int writeBytes(std::FILE* stream, const void* data, size_t count) {
    errno = 0;
    if (std::fwrite(data, 1, count, stream) == count) return 0;
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
