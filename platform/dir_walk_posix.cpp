#include "platform/dir_walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

#include "platform/disk_ops.h"

namespace platform {

bool listDirectory(const std::u16string& directory, const std::function<void(const DirItem&)>& visit) {
    std::string native = nativePathUtf8(directory);
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(native.empty() ? "." : native.c_str()), closedir);
    if (!dir) return false;
    if (!native.empty() && native.back() != '/') native.push_back('/');
    while (const dirent* item = readdir(dir.get())) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        // Names starting with a dot are this system's hidden files; they are listed like any other.
        const std::string full = native + name;
        struct stat info {};
        if (lstat(full.c_str(), &info) != 0) continue;
        if (S_ISLNK(info.st_mode)) {
            // A link to a directory could lead back up the tree; links to files are followed.
            if (stat(full.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
        }
        if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) continue;   // sockets, devices, pipes
        DirItem entry;
        entry.name = corePathFromUtf8(name);
        entry.isDirectory = S_ISDIR(info.st_mode);
        entry.size = entry.isDirectory ? 0 : uint64_t(info.st_size);
        visit(entry);
    }
    return true;
}

}  // namespace platform
