#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/disk_ops.h"
#include "platform/exclusive_file_shim.h"

namespace platform::file_shim {

std::FILE* openShared(const std::u16string& path, ExclusiveFile::Mode mode, int& error, bool& held) {
    held = false;
    using Mode = ExclusiveFile::Mode;
    int flags = O_CLOEXEC;
    const char* stdioMode = "rb";
    switch (mode) {
    case Mode::READ: flags |= O_RDONLY; stdioMode = "rb"; break;
    case Mode::UPDATE: flags |= O_RDWR; stdioMode = "rb+"; break;
    case Mode::CREATE: flags |= O_RDWR | O_CREAT; stdioMode = "rb+"; break;
    case Mode::WRITE: flags |= O_WRONLY | O_CREAT; stdioMode = "wb"; break;
    }
    const std::string native = nativePathUtf8(path);
    // No O_TRUNC: a file someone else holds must not be emptied before we learn that it is held.
    const int fd = ::open(native.c_str(), flags, 0666);
    if (fd < 0) {
        error = errno == EISDIR ? EACCES : errno;   // Windows answers EACCES for a directory
        return nullptr;
    }
    const auto fail = [fd, &error](int code) -> std::FILE* {
        ::close(fd);
        error = code;
        return nullptr;
    };
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) return fail(EACCES);
    // Readers share, writers hold the file alone: what the Windows sharing modes give.
    const int lockKind = mode == Mode::READ ? LOCK_SH : LOCK_EX;
    if (flock(fd, lockKind | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
        return fail(held ? EACCES : errno);
    }
    if ((mode == Mode::CREATE || mode == Mode::WRITE) && ftruncate(fd, 0) != 0) return fail(errno);
    std::FILE* file = fdopen(fd, stdioMode);
    if (file == nullptr) return fail(errno);
    return file;   // closing the stream closes the descriptor, which drops the lock
}

bool seekTo(std::FILE* file, int64_t offset, int origin) {
    return fseeko(file, off_t(offset), origin) == 0;
}

int64_t tellOf(std::FILE* file) {
    return int64_t(ftello(file));
}

int64_t lengthOf(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 ? int64_t(info.st_size) : -1;
}

// pread leaves the stream alone: no seek, and no read-ahead into its buffer.
int64_t readAt(std::FILE* file, uint64_t position, void* buffer, size_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < count) {
        const ssize_t step = pread(fileno(file), bytes + got, count - got, off_t(position + got));
        if (step < 0 && errno == EINTR) continue;
        if (step < 0) return -1;
        if (step == 0) break;
        got += size_t(step);
    }
    return int64_t(got);
}

bool commitToDisk(std::FILE* file) {
    return fsync(fileno(file)) == 0;
}

bool truncateTo(std::FILE* file, uint64_t length) {
    return ftruncate(fileno(file), off_t(length)) == 0;
}

}  // namespace platform::file_shim
