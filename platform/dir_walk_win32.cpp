#include "platform/dir_walk.h"

#include <windows.h>

namespace platform {

namespace {

struct FindHandle {
    HANDLE handle;
    ~FindHandle() {
        if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
    }
};

}  // namespace

bool listDirectory(const std::u16string& directory, const std::function<void(const DirItem&)>& visit) {
    std::u16string pattern = directory;
    if (!pattern.empty() && pattern.back() != u'\\') pattern += u'\\';
    pattern += u'*';
    WIN32_FIND_DATAW found{};
    const FindHandle search{FindFirstFileW(reinterpret_cast<const wchar_t*>(pattern.c_str()), &found)};
    if (search.handle == INVALID_HANDLE_VALUE) return false;
    do {
        const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
        if (name == u"." || name == u"..") continue;
        const bool isDir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A junction or linked directory could lead back up the tree.
        if (isDir && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
        DirItem entry;
        entry.name = name;
        entry.isDirectory = isDir;
        entry.size = isDir ? 0 : (uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow);
        visit(entry);
    } while (FindNextFileW(search.handle, &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace platform
