#include <windows.h>

#include <algorithm>

#include "platform/disk_ops.h"
#include "platform/input_file_shim.h"

namespace platform::input_shim {

int openShared(const std::u16string& path, intptr_t& handle, uint64_t& length, bool& held) {
    // Others may read, nobody may write; a directory is refused (access denied) as by the runtime.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        held = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
        return lastSystemErrorAsErrno();
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        const int error = lastSystemErrorAsErrno();
        CloseHandle(file);
        return error;
    }
    handle = reinterpret_cast<intptr_t>(file);
    length = uint64_t(size.QuadPart);
    return 0;
}

void closeHandle(intptr_t handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

int64_t readSome(intptr_t handle, uint64_t position, void* buffer, size_t count, int& error) {
    // One call takes at most 4 GiB - 1 bytes.
    const DWORD wanted = DWORD(std::min<size_t>(count, 1u << 30));
    OVERLAPPED at{};
    at.Offset = DWORD(position);
    at.OffsetHigh = DWORD(position >> 32);
    DWORD got = 0;
    if (ReadFile(reinterpret_cast<HANDLE>(handle), buffer, wanted, &got, &at)) return int64_t(got);
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    error = lastSystemErrorAsErrno();
    return -1;
}

}  // namespace platform::input_shim
