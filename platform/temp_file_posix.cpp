#include "platform/temp_file_shim.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/disk_ops.h"

namespace platform::file_shim {

NewFile createNewFile(const std::u16string& path, int& error) {
    const int fd = ::open(nativePathUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
        return NewFile::CREATED;
    }
    error = errno;
    return errno == EEXIST ? NewFile::EXISTS : NewFile::FAILED;
}

}  // namespace platform::file_shim
