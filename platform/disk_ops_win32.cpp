#include "platform/disk_ops.h"

#include <windows.h>

#include <cerrno>

#include "platform/name_limit.h"
#include "platform/utf8.h"

namespace platform {

namespace {

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The volume and the file's number on it. No access is asked for, so a file that someone holds
// without sharing can still be looked at.
bool identityOf(const std::u16string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE handle = CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return known;
}

}  // namespace

bool createDirectory(const std::u16string& path) {
    return CreateDirectoryW(wide(path), nullptr) != 0;
}

int makeDirectory(const std::u16string& path) {
    if (CreateDirectoryW(wide(path), nullptr) != 0) return 0;
    const int error = lastSystemErrorAsErrno();
    // A drive ("C:") or a server's name refuses creation but is there all the same.
    return isDirectory(path) ? 0 : error;
}

bool deleteFile(const std::u16string& path) {
    return DeleteFileW(wide(path)) != 0;
}

bool replaceFile(const std::u16string& source, const std::u16string& target, int* error) {
    // Not ReplaceFileW: when it fails it can leave a stray temporary file beside the target.
    if (MoveFileExW(wide(source), wide(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return true;
    if (error != nullptr) *error = lastSystemErrorAsErrno();
    return false;
}

int lastSystemErrorAsErrno() {
    // The numbers the runtime itself gives for these, so both systems explain them alike.
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    default: return EIO;
    }
}

bool fitsDiskPath(std::u16string_view path) {
    // Without the \\?\ prefix, which we do not use, the system's path buffers hold MAX_PATH
    // units with the terminator.
    return path.size() < MAX_PATH;
}

bool fileExists(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isDirectory(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool sameFile(const std::u16string& first, const std::u16string& second) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return identityOf(first, a) && identityOf(second, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::string nativePathUtf8(const std::u16string& path) {
    return utf16ToUtf8(path);
}

std::u16string corePathFromUtf8(std::string_view path) {
    return utf8ToUtf16(path);
}

char16_t extraSeparator() {
    return 0;
}

bool fitsPathLimit(const std::u16string& path) {
    return path.size() <= MAX_NAME_LENGTH;
}

bool isUndecodedName(std::u16string_view) {
    return false;
}

bool namesDriveOrStream(std::u16string_view component) {
    // "C:" is a drive (and "C:x" a path relative to its current folder), "a.txt:x" a stream of a.txt.
    return component.find(u':') != std::u16string_view::npos;
}

}  // namespace platform
