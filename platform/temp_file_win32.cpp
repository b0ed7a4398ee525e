#include "platform/temp_file_shim.h"

#include <windows.h>

#include "platform/disk_ops.h"

namespace platform::file_shim {

NewFile createNewFile(const std::u16string& path, int& error) {
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return NewFile::CREATED;
    }
    const DWORD code = GetLastError();
    error = lastSystemErrorAsErrno();
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? NewFile::EXISTS : NewFile::FAILED;
}

}  // namespace platform::file_shim
