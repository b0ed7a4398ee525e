#include "archive/base/failure_reason.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "archive/base/result_codes.h"
#include "platform/disk_ops.h"
#include "platform/utf8.h"

FailureReason systemFailure(int code, Operation operation, int systemError, std::u16string subject, bool held) {
    FailureReason reason = ruleFailure(code, operation, Cause::NONE, std::move(subject));
    reason.systemError = systemError;
    switch (systemError) {
    case ENOSPC: reason.cause = Cause::DISK_FULL; break;
    case EACCES:
    case EPERM:
    case EROFS: reason.cause = held ? Cause::IN_USE : Cause::PERMISSION_DENIED; break;
    case ENOENT:
    case ENOTDIR: reason.cause = Cause::NOT_FOUND; break;
    case ENOMEM: reason.cause = Cause::OUT_OF_MEMORY; break;
    default:
        if (operation == Operation::READ) {
            reason.cause = Cause::READ_ERROR;
        } else if (operation == Operation::WRITE || operation == Operation::FLUSH || operation == Operation::CLOSE) {
            reason.cause = Cause::WRITE_ERROR;
        } else {
            reason.cause = Cause::OTHER_SYSTEM_ERROR;
        }
        break;
    }
    return reason;
}

FailureReason fileFailure(int code, Operation operation, int systemError, std::u16string subject) {
    if (systemError != 0) return systemFailure(code, operation, systemError, std::move(subject));
    // A read that met the end of the file early, or a call with nothing to say.
    const Cause cause = operation == Operation::READ ? Cause::READ_ERROR : Cause::WRITE_ERROR;
    return ruleFailure(code, operation, cause, std::move(subject));
}

FailureReason codeFailure(int code, Operation operation, std::u16string subject) {
    const Cause cause = code == RESULT_BAD_DATA ? Cause::DAMAGED_STREAM : Cause::NONE;
    return ruleFailure(code, operation, cause, std::move(subject));
}

FailureReason memoryFailure(int code, Operation operation, std::u16string subject) {
    return ruleFailure(code, operation, Cause::OUT_OF_MEMORY, std::move(subject));
}

FailureReason ruleFailure(int code, Operation operation, Cause cause, std::u16string subject, uint32_t value) {
    FailureReason reason;
    reason.code = code;
    reason.operation = operation;
    reason.cause = cause;
    reason.subject = std::move(subject);
    reason.value = value;
    return reason;
}

const char* operationWord(Operation operation) {
    switch (operation) {
    case Operation::NONE: return "";
    case Operation::OPEN: return "open";
    case Operation::CREATE: return "create";
    case Operation::READ: return "read";
    case Operation::WRITE: return "write";
    case Operation::SEEK: return "seek in";
    case Operation::FLUSH: return "flush";
    case Operation::CLOSE: return "close";
    case Operation::INFLATE: return "inflate";
    case Operation::DEFLATE: return "compress";
    case Operation::RENAME: return "rename";
    case Operation::ADD: return "add";
    case Operation::EXTRACT: return "extract";
    }
    return "";
}

std::string causeText(const FailureReason& reason) {
    switch (reason.cause) {
    case Cause::IN_USE: return "the file is in use by another program";
    case Cause::DAMAGED_STREAM: return "compressed data are damaged";
    case Cause::UNSAFE_NAME: return "unsafe name (it would leave the target directory or holds control characters)";
    case Cause::DRIVE_OR_STREAM_NAME: return "the name holds ':', which names a drive or a data stream on this system";
    case Cause::SHADOWED_RECORD: return "an earlier record of the same name supersedes it (a look-up of the name finds that one)";
    case Cause::NAME_NOT_UTF8: return "the file name is not valid UTF-8";
    case Cause::NAME_NOT_ENCODABLE: return "not representable in code page " + std::to_string(reason.value);
    case Cause::NAME_TOO_LONG: return "name too long (an entry name holds at most 259 bytes, a path 259 characters)";
    case Cause::PATH_TOO_LONG: return "path too long for this system";
    case Cause::NAME_HAS_BACKSLASH:
        return "the name " + platform::utf16ToUtf8(reason.otherName) +
               " holds a backslash, which an entry name would take as a folder separator";
    case Cause::NAME_CASE_COLLISION:
        return "differs only in letter case from " + platform::utf16ToUtf8(reason.otherName) +
               ", added before it, and entry names ignore case";
    case Cause::NOT_REGULAR_FILE: return "not a regular file";
    case Cause::LINK_LOOP: return "a link to a folder that holds it (following it would loop)";
    case Cause::FILE_TOO_LARGE: return "file too large for the archive format (4 GiB)";
    case Cause::ARCHIVE_TOO_LARGE: return "the archive would grow past the format's limit (4 GiB)";
    case Cause::INTERNAL_ERROR: return "internal error: the task stopped unexpectedly";
    case Cause::ENTRY_DELETED: return "the entry is marked deleted";
    case Cause::ENTRY_NOT_SAVED: return "the entry is not saved in the archive yet";
    case Cause::UNREACHABLE_POSITION: return "the entry's data position lies beyond what the archive format can reach";
    case Cause::DIRECTORY_NOT_CREATED:
        return "cannot create directory " + platform::nativePathUtf8(reason.directory) + ": " +
               (reason.systemError != 0 ? std::strerror(reason.systemError) : "failed");
    case Cause::READ_ERROR:
        if (reason.systemError == 0) return "read error (the file ended before the length it had)";
        break;
    case Cause::WRITE_ERROR:
        if (reason.systemError == 0) return "write error";
        break;
    case Cause::OUT_OF_MEMORY:
        if (reason.systemError == 0) return "out of memory";
        break;
    default: break;
    }
    // The system's own words: "No space left on device", "Permission denied".
    if (reason.systemError != 0) return std::strerror(reason.systemError);
    return "";
}
