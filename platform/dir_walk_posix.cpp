#include "platform/dir_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "platform/disk_ops.h"

namespace platform {

namespace {

ItemKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return ItemKind::FILE;
    if (S_ISDIR(mode)) return ItemKind::DIRECTORY;
    return ItemKind::NOT_REGULAR;   // sockets, devices, pipes
}

}  // namespace

int listDirectory(const std::u16string& directory, const std::function<void(DirItem&)>& visit, Sizes sizes) {
    const std::string native = nativePathUtf8(directory);
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(native.empty() ? "." : native.c_str()), closedir);
    if (!dir) return errno;
    const int dirFd = dirfd(dir.get());
    for (;;) {
        // readdir answers null both at the end and on a failure; only errno tells them apart.
        errno = 0;
        const dirent* item = readdir(dir.get());
        if (item == nullptr) return errno;
        const std::string_view name = item->d_name;
        if (name == "." || name == "..") continue;
        // Names starting with a dot are this system's hidden files; they are listed like any other.
        DirItem entry;
        entry.name = corePathFromUtf8(name);
        // The listing tells files and folders apart by itself on most file systems.
        if (sizes == Sizes::WHEN_FREE && (item->d_type == DT_REG || item->d_type == DT_DIR)) {
            entry.kind = item->d_type == DT_REG ? ItemKind::FILE : ItemKind::DIRECTORY;
            entry.size = entry.kind == ItemKind::FILE ? UNMEASURED : 0;
            visit(entry);
            continue;
        }
        struct stat info {};
        if (fstatat(dirFd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            entry.kind = ItemKind::UNREACHABLE;
            entry.systemError = errno;
        } else if (S_ISLNK(info.st_mode)) {
            // The link's target: ELOOP for a link that leads back to itself, ENOENT for one to nothing.
            if (fstatat(dirFd, item->d_name, &info, 0) != 0) {
                entry.kind = ItemKind::UNREACHABLE;
                entry.systemError = errno;
            } else {
                entry.kind = S_ISDIR(info.st_mode) ? ItemKind::LINKED_DIRECTORY : kindOf(info.st_mode);
            }
        } else {
            entry.kind = kindOf(info.st_mode);
        }
        if (entry.kind == ItemKind::FILE) entry.size = uint64_t(info.st_size);
        visit(entry);
    }
}

int identifyFile(const std::u16string& path, FileIdentity& identity) {
    struct stat info {};
    if (stat(nativePathUtf8(path).c_str(), &info) != 0) return errno;
    identity.volume = uint64_t(info.st_dev);
    identity.index = uint64_t(info.st_ino);
    return 0;
}

}  // namespace platform
