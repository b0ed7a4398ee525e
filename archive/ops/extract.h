#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "archive/base/failure_reason.h"
#include "archive/base/outcome.h"
#include "platform/thread_sync.h"

class GrfEntry;

// Cause::NONE when `name` can be joined below a directory without leaving it; UNSAFE_NAME for an
// empty, "." or ".." component (or one of only dots and spaces), a leading separator, a control
// character (below 0x20) or a device name such as "con" or "com1.txt"; DRIVE_OR_STREAM_NAME for a
// ':' where the system reads it as a drive or a stream. Both "\" and "/" separate.
Cause entryPathRefusal(std::u16string_view name);
bool isSafeEntryPath(std::u16string_view name);

// The path below `targetDir` that an extraction writes `entry` to (with its directories when
// `keepDirs`), named by its Korean or ANSI form; nullopt when its name
// is unsafe, longer than an entry name may be, or the path longer than the system takes.
std::optional<std::u16string> entryTargetPath(const GrfEntry& entry, const std::u16string& targetDir, bool keepDirs,
                                              bool useKoreanNames);
// Why entryTargetPath refused `entry`: an unsafe name, one too long, or one without a form in the
// chosen code page.
FailureReason refusedTarget(const GrfEntry& entry, bool useKoreanNames);
// Creates the directories above `path`, each level in turn; a reason that failed() when one
// could not be made: DIRECTORY_NOT_CREATED with the system's error and that directory.
[[nodiscard]] FailureReason createParentDirectories(const std::u16string& path);

// createParentDirectories for a batch: each directory is created once, however many entries it
// holds, and one that cannot be made is tried once and answers the same for every entry below it.
// Any thread may call it.
class DirectoryMaker {
public:
    [[nodiscard]] FailureReason createParentsOf(const std::u16string& path);

private:
    // The system's slim lock on Windows: every extracted file takes it, from both threads.
    platform::Mutex lock;
    // Every directory created (or found there) so far.
    std::unordered_set<std::u16string> made;
    // The parents that could not be made, with why.
    std::unordered_map<std::u16string, FailureReason> refused;
};
