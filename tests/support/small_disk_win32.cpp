#include "tests/support/small_disk.h"

SmallDisk::SmallDisk(const std::string& nativeDirectory, size_t, bool) : directory(nativeDirectory) {
    why = "no small file system can be mounted here";
}

SmallDisk::~SmallDisk() = default;
