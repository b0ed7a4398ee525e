#include "platform/exclusive_file.h"

#include <io.h>
#include <share.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <utility>

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
    // The sharing is spelled out: Wine's _wfopen_s shares files that Windows would not.
    const wchar_t* stdioMode = L"rb";
    int sharing = _SH_DENYWR;
    switch (mode) {
    case Mode::READ: stdioMode = L"rb"; sharing = _SH_DENYWR; break;
    case Mode::UPDATE: stdioMode = L"rb+"; sharing = _SH_DENYRW; break;
    case Mode::CREATE: stdioMode = L"wb+"; sharing = _SH_DENYRW; break;
    case Mode::WRITE: stdioMode = L"wb"; sharing = _SH_DENYRW; break;
    }
    errno = 0;
    FILE* file = _wfsopen(reinterpret_cast<const wchar_t*>(path.c_str()), stdioMode, sharing);
    if (file == nullptr) return errno != 0 ? errno : EACCES;
    handle = file;
    return 0;
}

void ExclusiveFile::turnTo(Access next) {
    if (lastAccess != Access::NONE && lastAccess != next) _fseeki64(asFile(handle), 0, SEEK_CUR);
    lastAccess = next;
}

void ExclusiveFile::close() {
    lastAccess = Access::NONE;
    if (handle != nullptr) {
        std::fclose(asFile(handle));
        handle = nullptr;
    }
}

bool ExclusiveFile::seek(uint64_t position) {
    if (handle == nullptr || position > uint64_t(INT64_MAX)) return false;
    lastAccess = Access::NONE;
    return _fseeki64(asFile(handle), static_cast<__int64>(position), SEEK_SET) == 0;
}

bool ExclusiveFile::seekEnd() {
    lastAccess = Access::NONE;
    return handle != nullptr && _fseeki64(asFile(handle), 0, SEEK_END) == 0;
}

uint64_t ExclusiveFile::tell() const {
    if (handle == nullptr) return UINT64_MAX;
    const __int64 position = _ftelli64(asFile(handle));
    return position < 0 ? UINT64_MAX : uint64_t(position);
}

uint64_t ExclusiveFile::size() const {
    if (handle == nullptr) return UINT64_MAX;
    // Through the stream, so that bytes still in its buffer count.
    FILE* file = asFile(handle);
    const __int64 position = _ftelli64(file);
    if (position < 0 || _fseeki64(file, 0, SEEK_END) != 0) return UINT64_MAX;
    const __int64 length = _ftelli64(file);
    if (_fseeki64(file, position, SEEK_SET) != 0 || length < 0) return UINT64_MAX;
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
    return std::fflush(asFile(handle)) == 0 && _commit(_fileno(asFile(handle))) == 0;
}

void ExclusiveFile::setWriteFaultHook(std::function<bool()> hook) {
    const std::lock_guard<std::mutex> lock(hookMutex);
    hasWriteFaultHook.store(static_cast<bool>(hook), std::memory_order_release);
    writeFaultHook = std::move(hook);
}

}  // namespace platform
