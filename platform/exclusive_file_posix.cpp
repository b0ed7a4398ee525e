#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/disk_ops.h"

namespace platform {

namespace {

std::mutex hookMutex;
std::function<bool()> writeFaultHook;
std::atomic<bool> hasWriteFaultHook{false};

bool writeAllowed() {
    if (!hasWriteFaultHook.load(std::memory_order_acquire)) return true;
    const std::lock_guard<std::mutex> lock(hookMutex);
    return !writeFaultHook || writeFaultHook();
}

FILE* asFile(void* handle) {
    return static_cast<FILE*>(handle);
}

}  // namespace

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)), lastAccess(std::exchange(other.lastAccess, Access::NONE)) {}

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, nullptr);
        lastAccess = std::exchange(other.lastAccess, Access::NONE);
    }
    return *this;
}

ExclusiveFile::~ExclusiveFile() {
    close();
}

int ExclusiveFile::open(const std::u16string& path, Mode mode) {
    close();
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
    if (fd < 0) return errno == EISDIR ? EACCES : errno;   // Windows answers EACCES for a directory

    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return EACCES;
    }
    // Readers share, writers hold the file alone: what the Windows sharing modes give.
    const int lockKind = mode == Mode::READ ? LOCK_SH : LOCK_EX;
    if (flock(fd, lockKind | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EACCES : errno;
        ::close(fd);
        return error;
    }
    if ((mode == Mode::CREATE || mode == Mode::WRITE) && ftruncate(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    FILE* file = fdopen(fd, stdioMode);
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    handle = file;
    return 0;
}

void ExclusiveFile::turnTo(Access next) {
    if (lastAccess != Access::NONE && lastAccess != next) fseeko(asFile(handle), 0, SEEK_CUR);
    lastAccess = next;
}

void ExclusiveFile::close() {
    lastAccess = Access::NONE;
    if (handle != nullptr) {
        std::fclose(asFile(handle));   // closing the descriptor drops the lock
        handle = nullptr;
    }
}

bool ExclusiveFile::seek(uint64_t position) {
    if (handle == nullptr || position > uint64_t(INT64_MAX)) return false;
    lastAccess = Access::NONE;
    return fseeko(asFile(handle), off_t(position), SEEK_SET) == 0;
}

bool ExclusiveFile::seekEnd() {
    lastAccess = Access::NONE;
    return handle != nullptr && fseeko(asFile(handle), 0, SEEK_END) == 0;
}

uint64_t ExclusiveFile::tell() const {
    if (handle == nullptr) return UINT64_MAX;
    const off_t position = ftello(asFile(handle));
    return position < 0 ? UINT64_MAX : uint64_t(position);
}

uint64_t ExclusiveFile::size() const {
    if (handle == nullptr) return UINT64_MAX;
    // Through the stream rather than fstat, so that bytes still in its buffer count.
    FILE* file = asFile(handle);
    const off_t position = ftello(file);
    if (position < 0 || fseeko(file, 0, SEEK_END) != 0) return UINT64_MAX;
    const off_t length = ftello(file);
    if (fseeko(file, position, SEEK_SET) != 0 || length < 0) return UINT64_MAX;
    return uint64_t(length);
}

size_t ExclusiveFile::read(void* buffer, size_t count) {
    if (handle == nullptr) return 0;
    turnTo(Access::READ);
    return std::fread(buffer, 1, count, asFile(handle));
}

bool ExclusiveFile::write(const void* buffer, size_t count) {
    if (handle == nullptr || !writeAllowed()) return false;
    turnTo(Access::WRITE);
    return std::fwrite(buffer, 1, count, asFile(handle)) == count;
}

bool ExclusiveFile::flushToDisk() {
    if (handle == nullptr) return false;
    return std::fflush(asFile(handle)) == 0 && fsync(fileno(asFile(handle))) == 0;
}

void ExclusiveFile::setWriteFaultHook(std::function<bool()> hook) {
    const std::lock_guard<std::mutex> lock(hookMutex);
    hasWriteFaultHook.store(static_cast<bool>(hook), std::memory_order_release);
    writeFaultHook = std::move(hook);
}

}  // namespace platform
