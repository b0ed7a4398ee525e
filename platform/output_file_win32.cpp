#include "platform/output_file.h"

namespace platform {

// Windows opens a file alone in the same call that creates it, so the exclusive file costs
// nothing more here.
OutputFile::~OutputFile() {
    close();
}

int OutputFile::create(const std::u16string& path) {
    close();
    return existing.open(path, ExclusiveFile::Mode::WRITE);
}

bool OutputFile::write(const void* buffer, size_t count) {
    return existing.isOpen() && existing.write(buffer, count);
}

void OutputFile::close() {
    existing.close();
}

}  // namespace platform
