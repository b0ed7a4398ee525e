#include "platform/input_file.h"

#include <utility>

namespace platform {

InputFile::InputFile(InputFile&& other) noexcept
    : handle(std::exchange(other.handle, -1)),
      length(other.length),
      systemError(other.systemError),
      held(other.held) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, -1);
        length = other.length;
        systemError = other.systemError;
        held = other.held;
    }
    return *this;
}

}  // namespace platform
