#include "platform/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/disk_ops.h"

namespace platform {

OutputFile::~OutputFile() {
    close();
}

int OutputFile::create(const std::u16string& path) {
    close();
    const int fd = ::open(nativePathUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        descriptor = fd;
        return 0;
    }
    // A file (or a directory) is there already: the careful way, which refuses what is held.
    if (errno == EEXIST) return existing.open(path, ExclusiveFile::Mode::WRITE);
    return errno;
}

bool OutputFile::write(const void* buffer, size_t count) {
    if (descriptor < 0) return existing.isOpen() && existing.write(buffer, count);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const ssize_t written = ::write(int(descriptor), bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= size_t(written);
    }
    return true;
}

void OutputFile::close() {
    if (descriptor >= 0) {
        ::close(int(descriptor));
        descriptor = -1;
    }
    existing.close();
}

}  // namespace platform
