#pragma once
#include <cstdint>
#include <string>

// What was being done when something failed.
enum class Operation : uint8_t {
    NONE,
    OPEN,      // opening an existing file
    CREATE,    // creating a file
    READ,
    WRITE,
    SEEK,
    FLUSH,
    CLOSE,
    INFLATE,
    DEFLATE,
    RENAME,    // moving a finished file into place
    ADD,       // taking a disk file or another archive's entry into the archive
    EXTRACT,
};

// Why it failed, in the terms a user can act on.
enum class Cause : uint8_t {
    NONE,
    DISK_FULL,
    PERMISSION_DENIED,
    IN_USE,                // another program holds the file
    NOT_FOUND,
    READ_ERROR,            // a read failed or stopped short
    WRITE_ERROR,
    DAMAGED_STREAM,        // compressed data that do not inflate
    UNSAFE_NAME,           // would leave the target directory, or holds control characters
    NAME_NOT_ENCODABLE,    // not representable in the chosen code page (`value` names it)
    NAME_TOO_LONG,
    PATH_TOO_LONG,         // a disk path longer than this system opens
    NAME_HAS_BACKSLASH,    // a disk file's own name holds one, which entry names take as a separator (`otherName`)
    NAME_CASE_COLLISION,   // one add met this name before in other letter case (`otherName`)
    NOT_REGULAR_FILE,      // a device, pipe or socket
    LINK_LOOP,             // a link to a directory that holds it
    FILE_TOO_LARGE,        // 4 GiB or more: the format's sizes are 32-bit
    ARCHIVE_TOO_LARGE,     // the archive would outgrow what 32-bit positions address
    UNREACHABLE_POSITION,  // a record names data the archive's positions cannot reach
    OUT_OF_MEMORY,
    ENTRY_DELETED,         // the entry is marked deleted: nothing of it is extracted
    ENTRY_NOT_SAVED,       // added since the archive was saved: its data are not in the file yet
    OTHER_SYSTEM_ERROR,    // a system error number without a more telling cause
    INTERNAL_ERROR,        // the program itself failed (an exception escaped a task)
    DIRECTORY_NOT_CREATED, // a directory on the way could not be made (`directory` names it)
    DRIVE_OR_STREAM_NAME,  // holds ':', which names a drive or a stream on Windows
    SHADOWED_RECORD,       // an earlier record of the same name is what a look-up of it finds
    NAME_NOT_UTF8,         // a disk file's name holds bytes that are not UTF-8 (POSIX)
};

// The full reason behind a result code: ours, the system's error number, the operation and
// what it was done to. Kept on the archive, and per item where a batch has many outcomes.
struct FailureReason {
    int code = 0;              // a result code, or 0
    int systemError = 0;       // the runtime's error number (errno), 0 when none
    Operation operation = Operation::NONE;
    Cause cause = Cause::NONE;
    std::u16string subject;    // the path or entry name concerned
    bool subjectIsEntry = false;  // `subject` is an entry name (backslashes are part of it), not a path
    uint32_t value = 0;        // with NAME_NOT_ENCODABLE, the code page
    std::u16string otherName;  // with NAME_CASE_COLLISION, the entry name kept; with NAME_HAS_BACKSLASH, the file's own name
    std::u16string directory;  // with DIRECTORY_NOT_CREATED, the directory (a path)

    bool failed() const { return code != 0 || cause != Cause::NONE; }
};

// A reason built from a system error number: ENOSPC is a full disk, EACCES a refusal (or a
// file in use when `held`), ENOENT a missing file; any other number a read or write error.
[[nodiscard]] FailureReason systemFailure(int code, Operation operation, int systemError, std::u16string subject,
                                          bool held = false);
// A failed call of a platform file on `subject`, given the file's lastSystemError(): the system's
// error where the call left one, else READ_ERROR or WRITE_ERROR (a read that met the end of the
// file early).
[[nodiscard]] FailureReason fileFailure(int code, Operation operation, int systemError, std::u16string subject);
// A reason without a system error.
[[nodiscard]] FailureReason ruleFailure(int code, Operation operation, Cause cause, std::u16string subject, uint32_t value = 0);

// A reason of `code` with the cause the code itself means: RESULT_BAD_DATA is a damaged stream.
[[nodiscard]] FailureReason codeFailure(int code, Operation operation = Operation::NONE, std::u16string subject = {});
// Out of memory while doing `operation` to `subject`; `code` is the result code the window shows.
[[nodiscard]] FailureReason memoryFailure(int code, Operation operation, std::u16string subject = {});

// The verb of an operation in English, "write" for WRITE; "" for NONE.
const char* operationWord(Operation operation);
// The cause as English text: the system's message where there is a system error number,
// else the program's own words ("file too large for the archive format (4 GiB)").
std::string causeText(const FailureReason& reason);
