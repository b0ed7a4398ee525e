#include "platform/dir_walk.h"

#include <windows.h>

#include "platform/disk_ops.h"

namespace platform {

namespace {

struct FindHandle {
    HANDLE handle;
    ~FindHandle() {
        if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
    }
};

}  // namespace

// The listing tells every size anyway.
int listDirectory(const std::u16string& directory, const std::function<void(DirItem&)>& visit, Sizes) {
    std::u16string pattern = directory;
    if (!pattern.empty() && pattern.back() != u'\\') pattern += u'\\';
    pattern += u'*';
    WIN32_FIND_DATAW found{};
    const FindHandle search{FindFirstFileW(reinterpret_cast<const wchar_t*>(pattern.c_str()), &found)};
    if (search.handle == INVALID_HANDLE_VALUE) return lastSystemErrorAsErrno();
    do {
        const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
        if (name == u"." || name == u"..") continue;
        DirItem entry;
        entry.name = name;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            // A file link is opened through to its target, as a plain file is.
            entry.kind = ItemKind::FILE;
            entry.size = uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
        } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A junction or linked directory could lead back up the tree.
            entry.kind = ItemKind::LINKED_DIRECTORY;
        } else {
            entry.kind = ItemKind::DIRECTORY;
        }
        visit(entry);
    } while (FindNextFileW(search.handle, &found));
    if (GetLastError() == ERROR_NO_MORE_FILES) return 0;
    return lastSystemErrorAsErrno();
}

int identifyFile(const std::u16string& path, FileIdentity& identity) {
    // No access is asked for, so a file that someone holds without sharing can still be looked
    // at; the flag lets a directory open, through its junction or link.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return lastSystemErrorAsErrno();
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    const int error = known ? 0 : lastSystemErrorAsErrno();
    CloseHandle(handle);
    if (!known) return error;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return 0;
}

}  // namespace platform
