#include "platform/exclusive_file.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/exclusive_file_shim.h"
#include "platform/file_faults.h"

namespace platform {

namespace {

FILE* asFile(void* handle) {
    return static_cast<FILE*>(handle);
}

}  // namespace

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)),
      lastAccess(std::exchange(other.lastAccess, Access::NONE)),
      systemError(other.systemError),
      held(other.held) {}

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, nullptr);
        lastAccess = std::exchange(other.lastAccess, Access::NONE);
        systemError = other.systemError;
        held = other.held;
    }
    return *this;
}

ExclusiveFile::~ExclusiveFile() {
    close();
}

int ExclusiveFile::open(const std::u16string& path, Mode mode) {
    close();
    systemError = 0;
    held = false;
    if (const int fault = file_faults::openFault(path, mode); fault != 0) {
        held = fault == EACCES;
        systemError = fault;
        return fault;
    }
    handle = file_shim::openShared(path, mode, systemError, held);
    return handle != nullptr ? 0 : systemError;
}

bool ExclusiveFile::failWith(int fallback) {
    systemError = errno != 0 ? errno : fallback;
    return false;
}

void ExclusiveFile::turnTo(Access next) {
    if (lastAccess != Access::NONE && lastAccess != next) file_shim::seekTo(asFile(handle), 0, SEEK_CUR);
    lastAccess = next;
}

bool ExclusiveFile::close() {
    lastAccess = Access::NONE;
    if (handle == nullptr) return true;
    errno = 0;
    // Where the last buffered bytes are written: a full disk may show only here.
    const bool closed = std::fclose(asFile(handle)) == 0;   // closing drops the lock or the sharing restriction
    handle = nullptr;
    return closed || failWith(EIO);
}

bool ExclusiveFile::seek(uint64_t position) {
    if (handle == nullptr || position > uint64_t(INT64_MAX)) return false;
    lastAccess = Access::NONE;
    errno = 0;
    return file_shim::seekTo(asFile(handle), int64_t(position), SEEK_SET) || failWith(EIO);
}

bool ExclusiveFile::seekEnd() {
    lastAccess = Access::NONE;
    errno = 0;
    return handle != nullptr && (file_shim::seekTo(asFile(handle), 0, SEEK_END) || failWith(EIO));
}

uint64_t ExclusiveFile::tell() const {
    if (handle == nullptr) return UINT64_MAX;
    const int64_t position = file_shim::tellOf(asFile(handle));
    return position < 0 ? UINT64_MAX : uint64_t(position);
}

uint64_t ExclusiveFile::size() const {
    if (handle == nullptr) return UINT64_MAX;
    FILE* file = asFile(handle);
    // One call to the system unless written bytes may still wait in the stream's buffer.
    if (lastAccess != Access::WRITE) {
        const int64_t length = file_shim::lengthOf(file);
        if (length >= 0) return uint64_t(length);
    }
    const int64_t position = file_shim::tellOf(file);
    if (position < 0 || !file_shim::seekTo(file, 0, SEEK_END)) return UINT64_MAX;
    const int64_t length = file_shim::tellOf(file);
    if (!file_shim::seekTo(file, position, SEEK_SET) || length < 0) return UINT64_MAX;
    return uint64_t(length);
}

size_t ExclusiveFile::readAt(uint64_t position, void* buffer, size_t count) {
    if (handle == nullptr || position > uint64_t(INT64_MAX)) return 0;
    if (!file_faults::readAllowed()) {
        systemError = EIO;
        return 0;
    }
    // Written bytes still in the stream's buffer go to the file first.
    turnTo(Access::READ);
    errno = 0;
    const int64_t got = file_shim::readAt(asFile(handle), position, buffer, count);
    if (got < 0) {
        failWith(EIO);
        return 0;
    }
    return size_t(got);
}

size_t ExclusiveFile::read(void* buffer, size_t count) {
    if (handle == nullptr) return 0;
    if (!file_faults::readAllowed()) {
        systemError = EIO;
        return 0;
    }
    turnTo(Access::READ);
    errno = 0;
    const size_t got = std::fread(buffer, 1, count, asFile(handle));
    // A short read at the end of the file is no failure; one the stream marks as an error is.
    if (got < count && std::ferror(asFile(handle))) {
        failWith(EIO);
        std::clearerr(asFile(handle));
    }
    return got;
}

bool ExclusiveFile::write(const void* buffer, size_t count) {
    if (handle == nullptr) return false;
    if (!file_faults::writeAllowed()) {
        systemError = ENOSPC;
        return false;
    }
    turnTo(Access::WRITE);
    errno = 0;
    return std::fwrite(buffer, 1, count, asFile(handle)) == count || failWith(EIO);
}

bool ExclusiveFile::flushToDisk() {
    if (handle == nullptr) return false;
    errno = 0;
    return (std::fflush(asFile(handle)) == 0 && file_shim::commitToDisk(asFile(handle))) || failWith(EIO);
}

bool ExclusiveFile::truncate(uint64_t length) {
    if (handle == nullptr) return false;
    FILE* file = asFile(handle);
    // A failed flush leaves nothing behind in the stream either; either way none is pending.
    std::fflush(file);
    std::clearerr(file);
    lastAccess = Access::NONE;
    errno = 0;
    if (!file_shim::truncateTo(file, length)) return failWith(EIO);
    return file_shim::seekTo(file, 0, SEEK_SET) || failWith(EIO);
}

}  // namespace platform
