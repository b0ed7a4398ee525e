#include "platform/input_file.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"
#include "platform/file_faults.h"

namespace platform {

int InputFile::open(const std::u16string& path) {
    close();
    systemError = 0;
    held = false;
    length = 0;
    if (const int fault = file_faults::openFault(path, ExclusiveFile::Mode::READ); fault != 0) {
        held = fault == EACCES;
        return systemError = fault;
    }
    // Others may read, nobody may write: a directory is refused (access denied) as by the runtime.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        held = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
        return systemError = lastSystemErrorAsErrno();
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        systemError = lastSystemErrorAsErrno();
        CloseHandle(file);
        return systemError;
    }
    handle = reinterpret_cast<intptr_t>(file);
    length = uint64_t(size.QuadPart);
    return 0;
}

void InputFile::close() {
    if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(handle));
    handle = -1;
}

size_t InputFile::readAt(uint64_t position, void* buffer, size_t count) {
    if (handle == -1) return 0;
    if (!file_faults::readAllowed()) {
        systemError = EIO;
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < count) {
        // ReadFile takes at most 4 GiB - 1 bytes at a time.
        const DWORD wanted = DWORD(std::min<size_t>(count - got, 1u << 30));
        OVERLAPPED at{};
        at.Offset = DWORD(position + got);
        at.OffsetHigh = DWORD((position + got) >> 32);
        DWORD step = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(handle), bytes + got, wanted, &step, &at)) {
            if (GetLastError() != ERROR_HANDLE_EOF) systemError = lastSystemErrorAsErrno();
            break;
        }
        if (step == 0) break;
        got += step;
    }
    return got;
}

}  // namespace platform
