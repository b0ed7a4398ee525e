#include <windows.h>
#include <io.h>
#include <share.h>
#include <stdlib.h>

#include <cerrno>

#include "platform/exclusive_file_shim.h"

namespace platform::file_shim {

std::FILE* openShared(const std::u16string& path, ExclusiveFile::Mode mode, int& error, bool& held) {
    using Mode = ExclusiveFile::Mode;
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
    _doserrno = 0;
    std::FILE* file = _wfsopen(reinterpret_cast<const wchar_t*>(path.c_str()), stdioMode, sharing);
    held = file == nullptr && (_doserrno == ERROR_SHARING_VIOLATION || _doserrno == ERROR_LOCK_VIOLATION);
    if (file == nullptr) error = errno != 0 ? errno : EACCES;
    return file;
}

bool seekTo(std::FILE* file, int64_t offset, int origin) {
    return _fseeki64(file, static_cast<__int64>(offset), origin) == 0;
}

int64_t tellOf(std::FILE* file) {
    return static_cast<int64_t>(_ftelli64(file));
}

int64_t lengthOf(std::FILE* file) {
    return static_cast<int64_t>(_filelengthi64(_fileno(file)));
}

// Through the stream: a read of the system's own would move the position under the runtime.
int64_t readAt(std::FILE* file, uint64_t position, void* buffer, size_t count) {
    if (_fseeki64(file, static_cast<__int64>(position), SEEK_SET) != 0) return -1;
    const size_t got = std::fread(buffer, 1, count, file);
    if (got < count && std::ferror(file)) {
        std::clearerr(file);
        return -1;
    }
    return static_cast<int64_t>(got);
}

bool commitToDisk(std::FILE* file) {
    return _commit(_fileno(file)) == 0;
}

bool truncateTo(std::FILE* file, uint64_t length) {
    return _chsize_s(_fileno(file), int64_t(length)) == 0;
}

}  // namespace platform::file_shim
