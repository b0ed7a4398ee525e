#include "platform/temp_file.h"

#include <random>
#include <mutex>

#include "platform/temp_file_shim.h"

namespace platform {

std::optional<std::u16string> createTempFile(const std::u16string& directory, const std::u16string& prefix,
                                             int* error) {
    // Four hex digits, as Windows names them, but the whole prefix (GetTempFileNameW keeps only
    // three characters of it, and the file should carry the whole name of what it stands for).
    // A random start, so that two processes in one directory rarely try the same names.
    std::random_device seed;
    const unsigned start = seed() & 0xFFFF;
    static constexpr char16_t HEX[] = u"0123456789abcdef";
    int failure = 0;
    for (unsigned step = 0; step < 0x10000; ++step) {
        const unsigned number = (start + step) & 0xFFFF;
        if (number == 0) continue;
        std::u16string path = directory;
        if (!path.empty() && path.back() != u'\\') path += u'\\';
        path += prefix;
        for (int shift = 12; shift >= 0; shift -= 4) path += HEX[(number >> shift) & 0xF];
        path += u".tmp";
        const file_shim::NewFile made = file_shim::createNewFile(path, failure);
        if (made == file_shim::NewFile::CREATED) return path;
        if (made == file_shim::NewFile::FAILED) break;
    }
    if (error != nullptr) *error = failure;
    return std::nullopt;
}

}  // namespace platform

namespace platform {

namespace {

void appendHex4(std::u16string& out, unsigned number) {
    static constexpr char16_t HEX[] = u"0123456789abcdef";
    for (int shift = 12; shift >= 0; shift -= 4) out += HEX[(number >> shift) & 0xF];
}

}  // namespace

std::u16string tempNameBeside(const std::u16string& target, unsigned number, bool shortForm) {
    std::u16string path = target;
    if (shortForm) {
        path.erase(path.rfind(u'\\') + 1);
        path += u'~';
    } else {
        path += u'.';
    }
    appendHex4(path, number & 0xFFFF);
    return path + u".tmp";
}

unsigned tempNameStart() {
    // One seed per process, then a cheap sequence: extractions may ask once for every file.
    static std::mutex lock;
    static std::minstd_rand generator{std::random_device{}()};
    const std::lock_guard guard(lock);
    return unsigned(generator());
}

}  // namespace platform
