#include "platform/disk_ops.h"

#include <windows.h>

namespace platform {

namespace {

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

bool createDirectory(const std::u16string& path) {
    return CreateDirectoryW(wide(path), nullptr) != 0;
}

bool deleteFile(const std::u16string& path) {
    return DeleteFileW(wide(path)) != 0;
}

bool replaceFile(const std::u16string& source, const std::u16string& target) {
    // Not ReplaceFileW: when it fails it can leave a stray temporary file beside the target.
    return MoveFileExW(wide(source), wide(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool fileExists(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isDirectory(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string nativePathUtf8(const std::u16string& path) {
    if (path.empty()) return {};
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide(path), static_cast<int>(path.size()), nullptr, 0,
        nullptr, nullptr);
    std::string out(static_cast<size_t>(count > 0 ? count : 0), '\0');
    if (count > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide(path), static_cast<int>(path.size()), out.data(), count, nullptr, nullptr);
    }
    return out;
}

std::u16string corePathFromUtf8(const std::string& path) {
    if (path.empty()) return {};
    const int count = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(count > 0 ? count : 0), u'\0');
    if (count > 0) {
        MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
            reinterpret_cast<wchar_t*>(out.data()), count);
    }
    return out;
}

char16_t extraSeparator() {
    return 0;
}

}  // namespace platform
