#include "platform/temp_file.h"

#include <windows.h>

#include <random>

#include "platform/disk_ops.h"

namespace platform {

std::optional<std::u16string> createTempFile(const std::u16string& directory, const std::u16string& prefix,
                                             int* error) {
    // Not GetTempFileNameW: it keeps only three characters of the prefix, and the file should
    // carry the whole name of what it stands for. Four hex digits, from a random start so that
    // two processes in one directory rarely try the same names.
    std::random_device seed;
    const unsigned start = seed() & 0xFFFF;
    static constexpr char16_t HEX[] = u"0123456789abcdef";
    for (unsigned step = 0; step < 0x10000; ++step) {
        const unsigned number = (start + step) & 0xFFFF;
        if (number == 0) continue;
        std::u16string path = directory;
        if (!path.empty() && path.back() != u'\\') path += u'\\';
        path += prefix;
        for (int shift = 12; shift >= 0; shift -= 4) path += HEX[(number >> shift) & 0xF];
        path += u".tmp";
        const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            return path;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    if (error != nullptr) *error = lastSystemErrorAsErrno();
    return std::nullopt;
}

}  // namespace platform
