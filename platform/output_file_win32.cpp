#include "platform/output_file.h"

#include <windows.h>

#include <cerrno>
#include <utility>

#include "platform/disk_ops.h"
#include "platform/exclusive_file_shim.h"
#include "platform/file_faults.h"
#include "platform/name_limit.h"
#include "platform/temp_file.h"

namespace platform {

namespace {

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

void closeHandle(intptr_t& handle) {
    if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(handle));
    handle = -1;
}

// Opened alone, as ExclusiveFile's WRITE opens: nobody else may open it while we hold it.
HANDLE openAlone(const std::u16string& path, DWORD disposition) {
    return CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The system's answer to a create at `path` as the runtime's number; a directory standing there
// says so ("Is a directory"), where Windows only answers that access is denied.
int createError(const std::u16string& path) {
    const DWORD code = GetLastError();
    const int error = lastSystemErrorAsErrno();
    if ((code == ERROR_ACCESS_DENIED || code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) && isDirectory(path)) {
        return EISDIR;
    }
    return error;
}

bool isHeldError(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

// The move over a file we could write a moment ago: a refusal now means another program opened
// it in between (Windows answers access denied for a file held open, not a sharing violation).
bool isHeldAtMove(DWORD code) {
    return isHeldError(code) || code == ERROR_ACCESS_DENIED;
}

}  // namespace

OutputFile::~OutputFile() {
    discard();
}

int OutputFile::create(const std::u16string& path) {
    discard();
    systemError = 0;
    held = false;
    replaceFailed = false;
    // Windows opens a file alone in the same call that creates it.
    const HANDLE fresh = openAlone(path, CREATE_NEW);
    if (fresh != INVALID_HANDLE_VALUE) {
        descriptor = reinterpret_cast<intptr_t>(fresh);
        targetPath = writtenPath = path;
        return 0;
    }
    const DWORD freshCode = GetLastError();
    if (freshCode != ERROR_FILE_EXISTS && freshCode != ERROR_ALREADY_EXISTS) {
        SetLastError(freshCode);
        return systemError = createError(path);
    }
    // Held alone until the new file replaces it: a file another program holds, or one that is
    // read-only, is refused before any byte is written.
    const HANDLE existing = openAlone(path, OPEN_EXISTING);
    if (existing == INVALID_HANDLE_VALUE) {
        held = isHeldError(GetLastError());
        return systemError = createError(path);
    }
    existingHold = reinterpret_cast<intptr_t>(existing);
    targetPath = path;
    // "NAME.XXXX.tmp" where it fits the system's path buffers, else "~XXXX.tmp", which fits
    // wherever the target's own name has nine characters or more.
    const bool shortForm = path.size() + 9 > MAX_NAME_LENGTH;
    const unsigned start = tempNameStart();
    for (unsigned step = 0; step < 0x10000; ++step) {
        writtenPath = tempNameBeside(path, start + step, shortForm);
        const HANDLE temp = openAlone(writtenPath, CREATE_NEW);
        if (temp != INVALID_HANDLE_VALUE) {
            descriptor = reinterpret_cast<intptr_t>(temp);
            return 0;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) break;
    }
    systemError = lastSystemErrorAsErrno();
    writtenPath.clear();
    closeHandle(existingHold);
    return systemError;
}

bool OutputFile::write(const void* buffer, size_t count) {
    if (descriptor == -1) {
        systemError = EBADF;
        return false;
    }
    // The tests' full disk, as for every other file we write.
    if (!file_faults::writeAllowed()) {
        systemError = ENOSPC;
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const DWORD piece = count > 0x40000000 ? 0x40000000 : DWORD(count);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(descriptor), bytes, piece, &written, nullptr)) {
            systemError = lastSystemErrorAsErrno();
            return false;
        }
        // A write that took nothing without an error is a full disk all the same.
        if (written == 0) {
            systemError = ENOSPC;
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

bool OutputFile::commit() {
    if (descriptor == -1) return systemError == 0;
    if (!CloseHandle(reinterpret_cast<HANDLE>(std::exchange(descriptor, -1)))) {
        systemError = lastSystemErrorAsErrno();
        discard();
        return false;
    }
    if (existingHold != -1) {
        // Let go of the existing file only now, and replace it at once; another program that
        // takes it in between makes the move fail, and that is said as a file in use.
        closeHandle(existingHold);
        if (!MoveFileExW(wide(writtenPath), wide(targetPath), MOVEFILE_REPLACE_EXISTING)) {
            held = isHeldAtMove(GetLastError());
            systemError = lastSystemErrorAsErrno();
            replaceFailed = true;
            discard();
            return false;
        }
    }
    writtenPath.clear();
    return true;
}

void OutputFile::discard() {
    closeHandle(descriptor);
    if (!writtenPath.empty()) DeleteFileW(wide(writtenPath));
    writtenPath.clear();
    closeHandle(existingHold);
}

}  // namespace platform
