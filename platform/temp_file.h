#pragma once
#include <optional>
#include <string>

namespace platform {

// Creates a fresh, empty, uniquely named file "<prefix>XXXX.tmp" (four hex digits) in `directory`
// (empty: the current directory) and answers its path; nullopt when none can be made, with the
// runtime's error number in `error` when given.
std::optional<std::u16string> createTempFile(const std::u16string& directory, const std::u16string& prefix,
                                             int* error = nullptr);

}  // namespace platform
