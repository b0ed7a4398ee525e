#pragma once
#include <cstddef>

namespace platform {

// Longest name the program keeps: 259 bytes in a table, 259 units for a wide name or a path we
// create. With the terminator, that is the 260 of the system's path buffers and the window's.
constexpr size_t MAX_NAME_LENGTH = 259;

}  // namespace platform
