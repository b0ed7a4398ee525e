#include "tests/support/small_disk.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

SmallDisk::SmallDisk(const std::string& nativeDirectory, size_t bytes) : directory(nativeDirectory) {
    const std::string options = "size=" + std::to_string(bytes);
    isMounted = ::mount("tmpfs", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    if (!isMounted) why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
}

SmallDisk::~SmallDisk() {
    // Detached: a file still open somewhere must not keep the test's directory from going.
    if (isMounted) ::umount2(directory.c_str(), MNT_DETACH);
}
