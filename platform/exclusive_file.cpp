#include "platform/exclusive_file.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/exclusive_file_shim.h"

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
    int error = 0;
    handle = file_shim::openShared(path, mode, error);
    return handle != nullptr ? 0 : error;
}

void ExclusiveFile::turnTo(Access next) {
    if (lastAccess != Access::NONE && lastAccess != next) file_shim::seekTo(asFile(handle), 0, SEEK_CUR);
    lastAccess = next;
}

void ExclusiveFile::close() {
    lastAccess = Access::NONE;
    if (handle != nullptr) {
        std::fclose(asFile(handle));   // closing drops the lock or the sharing restriction
        handle = nullptr;
    }
}

bool ExclusiveFile::seek(uint64_t position) {
    if (handle == nullptr || position > uint64_t(INT64_MAX)) return false;
    lastAccess = Access::NONE;
    return file_shim::seekTo(asFile(handle), int64_t(position), SEEK_SET);
}

bool ExclusiveFile::seekEnd() {
    lastAccess = Access::NONE;
    return handle != nullptr && file_shim::seekTo(asFile(handle), 0, SEEK_END);
}

uint64_t ExclusiveFile::tell() const {
    if (handle == nullptr) return UINT64_MAX;
    const int64_t position = file_shim::tellOf(asFile(handle));
    return position < 0 ? UINT64_MAX : uint64_t(position);
}

uint64_t ExclusiveFile::size() const {
    if (handle == nullptr) return UINT64_MAX;
    // Through the stream rather than the file system, so that bytes still in its buffer count.
    FILE* file = asFile(handle);
    const int64_t position = file_shim::tellOf(file);
    if (position < 0 || !file_shim::seekTo(file, 0, SEEK_END)) return UINT64_MAX;
    const int64_t length = file_shim::tellOf(file);
    if (!file_shim::seekTo(file, position, SEEK_SET) || length < 0) return UINT64_MAX;
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
    return std::fflush(asFile(handle)) == 0 && file_shim::commitToDisk(asFile(handle));
}

void ExclusiveFile::setWriteFaultHook(std::function<bool()> hook) {
    const std::lock_guard<std::mutex> lock(hookMutex);
    hasWriteFaultHook.store(static_cast<bool>(hook), std::memory_order_release);
    writeFaultHook = std::move(hook);
}

}  // namespace platform
