#include "platform/temp_file.h"

#include <windows.h>

namespace platform {

std::optional<std::u16string> createTempFile(const std::u16string& directory, const std::u16string& prefix) {
    const std::u16string where = directory.empty() ? u"." : directory;
    wchar_t path[MAX_PATH] = {};
    // Unique number 0: the system picks a free name and creates the file, so no one else gets it.
    if (GetTempFileNameW(reinterpret_cast<const wchar_t*>(where.c_str()),
            reinterpret_cast<const wchar_t*>(prefix.c_str()), 0, path) == 0) {
        return std::nullopt;
    }
    return std::u16string(reinterpret_cast<const char16_t*>(path));
}

}  // namespace platform
