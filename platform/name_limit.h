#pragma once
#include <cstddef>
#include <string_view>

namespace platform {

// Longest name the program keeps: 259 bytes in a table, 259 units for a wide name. With the
// terminator, that is the 260 of the window's buffers.
constexpr size_t MAX_NAME_LENGTH = 259;

// Whether this system can open a file at `path` (backslash-separated UTF-16): a Windows path
// holds at most 259 characters, a POSIX one PATH_MAX - 1 bytes of UTF-8.
bool fitsDiskPath(std::u16string_view path);

}  // namespace platform
