#include "platform/input_file.h"

#include <cerrno>
#include <utility>

#include "platform/exclusive_file.h"
#include "platform/file_faults.h"
#include "platform/input_file_shim.h"

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

int InputFile::open(const std::u16string& path) {
    close();
    systemError = 0;
    held = false;
    length = 0;
    // The tests' refusals, as for every file opened to read.
    if (const int fault = file_faults::openFault(path, ExclusiveFile::Mode::READ); fault != 0) {
        held = fault == EACCES;
        return systemError = fault;
    }
    return systemError = input_shim::openShared(path, handle, length, held);
}

void InputFile::close() {
    if (handle != -1) input_shim::closeHandle(handle);
    handle = -1;
}

size_t InputFile::readAt(uint64_t position, void* buffer, size_t count) {
    if (handle == -1) return 0;
    if (!file_faults::readAllowed()) {
        systemError = EIO;
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < count) {
        const int64_t step = input_shim::readSome(handle, position + got, bytes + got, count - got, systemError);
        if (step <= 0) break;
        got += size_t(step);
    }
    return got;
}

}  // namespace platform
