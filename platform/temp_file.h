#pragma once
#include <optional>
#include <string>

namespace platform {

// Creates a fresh, empty, uniquely named file "<prefix>XXXX.tmp" in `directory` (empty: the
// current directory) and answers its path; nullopt when none can be made.
std::optional<std::u16string> createTempFile(const std::u16string& directory, const std::u16string& prefix);

}  // namespace platform
