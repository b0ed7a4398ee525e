#include "platform/disk_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

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

bool deleteFile(const std::u16string& path) {
    return unlink(nativePathUtf8(path).c_str()) == 0;
}

bool replaceFile(const std::u16string& source, const std::u16string& target) {
    const std::string to = nativePathUtf8(target);
    if (std::rename(nativePathUtf8(source).c_str(), to.c_str()) != 0) return false;
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
    std::string out;
    out.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        char32_t c = path[i];
        if (c == u'\\') {
            c = U'/';
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;   // a lone surrogate has no UTF-8 form
        }
        appendUtf8(out, c);
    }
    return out;
}

std::u16string corePathFromUtf8(const std::string& path) {
    std::u16string out;
    out.reserve(path.size());
    const auto* s = reinterpret_cast<const unsigned char*>(path.data());
    const size_t n = path.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        char32_t c = 0xFFFD;
        size_t length = 1;
        if (b < 0x80) {
            c = b;
        } else if (b >= 0xC2 && b < 0xF5) {
            const size_t need = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            char32_t value = b & (0x7F >> need);
            size_t k = 1;
            for (; k < need && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k) value = value << 6 | (s[i + k] & 0x3F);
            const char32_t least = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
            if (k == need && value >= least && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
                c = value;
                length = need;
            }
        }
        i += length;
        if (c == U'/') c = U'\\';
        if (c >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
    }
    return out;
}

char16_t extraSeparator() {
    return u'/';
}

}  // namespace platform
