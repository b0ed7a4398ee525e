#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

enum class ItemKind : uint8_t {
    FILE,              // a regular file, or a link to one
    DIRECTORY,
    LINKED_DIRECTORY,  // a symbolic link or junction to a directory
    NOT_REGULAR,       // a device, pipe or socket, or a link to one
    UNREACHABLE,       // a link that leads nowhere or loops, or an item gone meanwhile: see systemError
};

// A file's size the listing was not asked to measure.
constexpr uint64_t UNMEASURED = UINT64_MAX;

struct DirItem {
    std::u16string name;  // the item's own name, no directory part
    ItemKind kind = ItemKind::FILE;
    uint64_t size = 0;    // file length as the listing reports it (or UNMEASURED); 0 for anything but a file
    int systemError = 0;  // UNREACHABLE: the runtime's error number (ELOOP, ENOENT, ...)

    bool isDirectory() const { return kind == ItemKind::DIRECTORY; }
};

// Calls `visit` for each item of `directory` (backslash-separated UTF-16 path), in the file
// system's order, "." and ".." left out, hidden and system files included (on POSIX the dot
// names). Links to files are followed; links to directories are only named as such, so the
// caller decides whether following one would loop.
// 0, or the runtime's error number when the directory cannot be listed or the listing broke off
// (the items before the break have been visited). `visit` may take the item's name.
// Sizes::WHEN_FREE leaves a file's size UNMEASURED where telling it costs a call of its own
// (POSIX, unless the file system does not tell kinds either), for a caller that opens each file
// and learns it there.
enum class Sizes : uint8_t { MEASURED, WHEN_FREE };
int listDirectory(const std::u16string& directory, const std::function<void(DirItem&)>& visit,
                  Sizes sizes = Sizes::MEASURED);

// Which file or directory a path leads to, through links, however the path is spelled.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// 0 with `identity` set, or the runtime's error number.
int identifyFile(const std::u16string& path, FileIdentity& identity);

}  // namespace platform
