#pragma once
#include <cstddef>
#include <string>

// A file system of `bytes` mounted on an empty directory, so that a test can fill a real disk
// (or, `readOnly`, meet one that refuses every change); unmounted when it goes. Only where the
// test may mount (Linux as root): mounted() says.
class SmallDisk {
public:
    SmallDisk(const std::string& nativeDirectory, size_t bytes, bool readOnly = false);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return isMounted; }
    // Why it is not mounted, for the skip message.
    const std::string& refusal() const { return why; }

private:
    std::string directory;
    bool isMounted = false;
    std::string why;
};
