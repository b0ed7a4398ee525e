#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"
#include "platform/file_faults.h"

namespace platform {

int InputFile::open(const std::u16string& path) {
    close();
    systemError = 0;
    held = false;
    length = 0;
    if (const int fault = file_faults::openFault(path, ExclusiveFile::Mode::READ); fault != 0) {
        held = fault == EACCES;
        return systemError = fault;
    }
    const int fd = ::open(nativePathUtf8(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return systemError = errno;
    struct stat info {};
    // Windows refuses to open a directory as a file; so do we. (O_NONBLOCK: a pipe put in a
    // file's place does not stop us here; reading it then fails.)
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        systemError = S_ISDIR(info.st_mode) ? EACCES : errno;
        ::close(fd);
        return systemError;
    }
    // Readers share, a writer holds the file alone: what the Windows sharing modes give.
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
        systemError = held ? EACCES : errno;
        ::close(fd);
        return systemError;
    }
    handle = fd;
    length = uint64_t(info.st_size);
    return 0;
}

void InputFile::close() {
    if (handle != -1) ::close(int(handle));   // drops the lock
    handle = -1;
}

size_t InputFile::readAt(uint64_t position, void* buffer, size_t count) {
    if (handle == -1) return 0;
    if (!file_faults::readAllowed()) {
        systemError = EIO;
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < count) {
        const ssize_t step = pread(int(handle), bytes + got, count - got, off_t(position + got));
        if (step < 0 && errno == EINTR) continue;
        if (step < 0) {
            systemError = errno;
            break;
        }
        if (step == 0) break;
        got += size_t(step);
    }
    return got;
}

}  // namespace platform
