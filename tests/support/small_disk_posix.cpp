#include "tests/support/small_disk.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

SmallDisk::SmallDisk(const std::string& nativeDirectory, size_t bytes, bool readOnly) : directory(nativeDirectory) {
    const std::string options = "size=" + std::to_string(bytes);
    const unsigned long flags = MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    isMounted = ::mount("tmpfs", directory.c_str(), "tmpfs", flags, options.c_str()) == 0;
    if (!isMounted) why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
}

SmallDisk::~SmallDisk() {
    // Detached: a file still open somewhere must not keep the test's directory from going.
    if (isMounted) ::umount2(directory.c_str(), MNT_DETACH);
}
