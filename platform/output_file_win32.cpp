#include "platform/output_file.h"

#include <cerrno>

namespace platform {

// Windows opens a file alone in the same call that creates it, so the exclusive file costs
// nothing more here.
OutputFile::~OutputFile() {
    close();
}

int OutputFile::create(const std::u16string& path) {
    close();
    systemError = 0;
    return existing.open(path, ExclusiveFile::Mode::WRITE);
}

bool OutputFile::write(const void* buffer, size_t count) {
    if (existing.isOpen() && existing.write(buffer, count)) return true;
    systemError = existing.isOpen() ? existing.lastSystemError() : EBADF;
    return false;
}

bool OutputFile::close() {
    if (existing.close()) return true;
    systemError = existing.lastSystemError();
    return false;
}

}  // namespace platform
