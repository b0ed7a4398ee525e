#include "platform/disk_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/name_limit.h"
#include "platform/utf8.h"

namespace platform {

namespace {

// The directory part of a native path, "." when there is none.
std::string parentOf(const std::string& native) {
    const size_t slash = native.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : native.substr(0, slash);
}

}  // namespace

bool createDirectory(const std::u16string& path) {
    return mkdir(nativePathUtf8(path).c_str(), 0777) == 0;
}

int makeDirectory(const std::u16string& path) {
    const std::string native = nativePathUtf8(path);
    if (mkdir(native.c_str(), 0777) == 0) return 0;
    const int error = errno;
    struct stat info {};
    return stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? 0 : error;
}

bool deleteFile(const std::u16string& path) {
    return unlink(nativePathUtf8(path).c_str()) == 0;
}

bool replaceFile(const std::u16string& source, const std::u16string& target, int* error) {
    const std::string to = nativePathUtf8(target);
    if (std::rename(nativePathUtf8(source).c_str(), to.c_str()) != 0) {
        if (error != nullptr) *error = errno;
        return false;
    }
    // The rename itself must reach the disk, or a crash could bring back the old file.
    const int dir = ::open(parentOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        ::close(dir);
    }
    return true;
}

bool fileExists(const std::u16string& path) {
    struct stat info {};
    return stat(nativePathUtf8(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool isDirectory(const std::u16string& path) {
    struct stat info {};
    return stat(nativePathUtf8(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool sameFile(const std::u16string& first, const std::u16string& second) {
    struct stat a {};
    struct stat b {};
    return stat(nativePathUtf8(first).c_str(), &a) == 0 && stat(nativePathUtf8(second).c_str(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string nativePathUtf8(const std::u16string& path) {
    std::string out = utf16ToUtf8KeepingBytes(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

std::u16string corePathFromUtf8(std::string_view path) {
    // File names are bytes here: one that is not UTF-8 keeps them, to be opened and named by them.
    std::u16string out = utf8ToUtf16KeepingBytes(path);
    std::replace(out.begin(), out.end(), u'/', u'\\');
    return out;
}

int lastSystemErrorAsErrno() {
    return errno;
}

bool fitsDiskPath(std::u16string_view path) {
    // What the kernel takes in one path, terminator included; a file system may refuse less
    // (a long component), and then the open says so with its own ENAMETOOLONG.
    return utf8Length(path) < PATH_MAX;
}

char16_t extraSeparator() {
    return u'/';
}

bool fitsPathLimit(const std::u16string&) {
    return true;
}

bool namesDriveOrStream(std::u16string_view) {
    return false;
}

bool isUndecodedName(std::u16string_view name) {
    return holdsKeptBytes(name);
}

}  // namespace platform
