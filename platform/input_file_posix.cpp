#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/disk_ops.h"
#include "platform/input_file_shim.h"

namespace platform::input_shim {

int openShared(const std::u16string& path, intptr_t& handle, uint64_t& length, bool& held) {
    // O_NONBLOCK: a pipe put in a file's place does not stop us here; reading it then fails.
    const int fd = ::open(nativePathUtf8(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    const auto fail = [fd](int error) {
        ::close(fd);
        return error;
    };
    struct stat info {};
    if (fstat(fd, &info) != 0) return fail(errno);
    // Windows refuses to open a directory as a file; so do we.
    if (S_ISDIR(info.st_mode)) return fail(EACCES);
    // Readers share, a writer holds the file alone: what the Windows sharing modes give.
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
        return fail(held ? EACCES : errno);
    }
    handle = fd;
    length = uint64_t(info.st_size);
    return 0;
}

void closeHandle(intptr_t handle) {
    ::close(int(handle));   // drops the lock
}

int64_t readSome(intptr_t handle, uint64_t position, void* buffer, size_t count, int& error) {
    for (;;) {
        const ssize_t got = pread(int(handle), buffer, count, off_t(position));
        if (got >= 0) return got;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

}  // namespace platform::input_shim
