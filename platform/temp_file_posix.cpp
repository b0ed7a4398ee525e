#include "platform/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/disk_ops.h"

namespace platform {

std::optional<std::u16string> createTempFile(const std::u16string& directory, const std::u16string& prefix,
                                             int* error) {
    // Four hex digits, as Windows names them; start at a random number so that two processes
    // in one directory rarely try the same names.
    std::random_device seed;
    const unsigned start = seed() & 0xFFFF;
    static constexpr char16_t HEX[] = u"0123456789abcdef";
    for (unsigned step = 0; step < 0x10000; ++step) {
        const unsigned number = (start + step) & 0xFFFF;
        if (number == 0) continue;
        std::u16string path = directory;
        if (!path.empty() && path.back() != u'\\') path += u'\\';
        path += prefix;
        for (int shift = 12; shift >= 0; shift -= 4) path += HEX[(number >> shift) & 0xF];
        path += u".tmp";
        const int fd = ::open(nativePathUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) break;
    }
    if (error != nullptr) *error = errno;
    return std::nullopt;
}

}  // namespace platform
