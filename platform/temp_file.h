#pragma once
#include <optional>
#include <string>

namespace platform {

// Creates a fresh, empty, uniquely named file "<prefix>XXXX.tmp" (four hex digits) in `directory`
// (empty: the current directory) and answers its path; nullopt when none can be made, with the
// runtime's error number in `error` when given.
std::optional<std::u16string> createTempFile(const std::u16string& directory, const std::u16string& prefix,
                                             int* error = nullptr);

// The name of a temporary file beside `target` for the number `number`: "NAME.XXXX.tmp" (four
// hex digits) in the target's directory, or "~XXXX.tmp" when `shortForm`, for a target whose
// name leaves no room for more.
std::u16string tempNameBeside(const std::u16string& target, unsigned number, bool shortForm);
// A number to start trying temporary names at, different in each call and each process.
unsigned tempNameStart();

}  // namespace platform
