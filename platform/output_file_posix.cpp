#include "platform/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/disk_ops.h"
#include "platform/exclusive_file_shim.h"

namespace platform {

OutputFile::~OutputFile() {
    close();
}

int OutputFile::create(const std::u16string& path) {
    close();
    systemError = 0;
    const int fd = ::open(nativePathUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        descriptor = fd;
        return 0;
    }
    // A file (or a directory) is there already: the careful way, which refuses what is held.
    if (errno == EEXIST) return existing.open(path, ExclusiveFile::Mode::WRITE);
    return errno;
}

bool OutputFile::write(const void* buffer, size_t count) {
    if (descriptor < 0) {
        if (existing.isOpen() && existing.write(buffer, count)) return true;
        systemError = existing.isOpen() ? existing.lastSystemError() : EBADF;
        return false;
    }
    // The tests' full disk, as for every other file we write.
    if (!file_shim::writeAllowed()) {
        systemError = ENOSPC;
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const ssize_t written = ::write(int(descriptor), bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            // A write that took nothing without an error is a full disk all the same.
            systemError = written < 0 ? errno : ENOSPC;
            return false;
        }
        bytes += written;
        count -= size_t(written);
    }
    return true;
}

bool OutputFile::close() {
    bool closed = true;
    if (descriptor >= 0) {
        // Some file systems (network ones) report a failed write only here.
        if (::close(int(descriptor)) != 0 && errno != EINTR) {
            systemError = errno;
            closed = false;
        }
        descriptor = -1;
    }
    if (!existing.close()) {
        systemError = existing.lastSystemError();
        closed = false;
    }
    return closed;
}

}  // namespace platform
