#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct DirItem {
    std::u16string name;  // the item's own name, no directory part
    bool isDirectory = false;
    uint64_t size = 0;    // file length as the listing reports it
};

// Calls `visit` for each item of `directory` (backslash-separated UTF-16 path), in the file
// system's order, "." and ".." left out, hidden and system files included (on POSIX the dot
// names). Linked directories (symlinks, junctions) are left out so a walk cannot loop;
// on POSIX links to files are followed and devices, pipes and sockets left out.
// False when the directory cannot be listed.
bool listDirectory(const std::u16string& directory, const std::function<void(const DirItem&)>& visit);

}  // namespace platform
