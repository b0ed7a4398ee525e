#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/disk_ops.h"
#include "platform/exclusive_file_shim.h"
#include "platform/file_faults.h"
#include "platform/temp_file.h"
#include "platform/utf8.h"

namespace platform {

namespace {

// The longest name of one directory entry that the usual Linux file systems take, in bytes.
constexpr size_t MAX_COMPONENT_BYTES = 255;

void closeDescriptor(intptr_t& fd) {
    if (fd >= 0) ::close(int(fd));
    fd = -1;
}

// The file a link at `native` leads to, so that replacing it keeps the link, as writing through
// it did; `native` itself when it is no link or leads nowhere we can name.
std::string resolvedTarget(const std::string& native) {
    struct stat info {};
    if (lstat(native.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return native;
    const std::unique_ptr<char, void (*)(void*)> real(realpath(native.c_str(), nullptr), std::free);
    return real ? std::string(real.get()) : native;
}

// A fresh temporary file beside `target`, locked as ours: a batch entry that happens to bear its
// name finds it held instead of writing into it.
int createBeside(const std::u16string& target, intptr_t& descriptor, std::u16string& path) {
    const size_t nameStart = target.rfind(u'\\') + 1;
    // Nine more bytes (".XXXX.tmp") must still fit one directory entry.
    const bool shortForm = utf16ToUtf8(target.substr(nameStart)).size() + 9 > MAX_COMPONENT_BYTES;
    const unsigned start = tempNameStart();
    for (unsigned step = 0; step < 0x10000; ++step) {
        path = tempNameBeside(target, start + step, shortForm);
        const int fd = ::open(nativePathUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            flock(fd, LOCK_EX | LOCK_NB);
            descriptor = fd;
            return 0;
        }
        if (errno != EEXIST) break;
    }
    const int error = errno;
    path.clear();
    return error;
}

}  // namespace

OutputFile::~OutputFile() {
    discard();
}

int OutputFile::create(const std::u16string& path) {
    discard();
    systemError = 0;
    held = false;
    replaceFailed = false;
    const std::string native = nativePathUtf8(path);
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        descriptor = fd;
        targetPath = writtenPath = path;
        return 0;
    }
    if (errno != EEXIST) return systemError = errno;

    // Something is there. Opened as a write would open it, so that a directory ("Is a
    // directory"), a file we may not write or one another program holds is refused now, before
    // any byte is written; O_NONBLOCK keeps a pipe without a reader from stopping us here.
    const int existing = ::open(native.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (existing < 0) return systemError = errno;
    existingHold = existing;
    struct stat info {};
    if (fstat(existing, &info) != 0) {
        systemError = errno;
        closeDescriptor(existingHold);
        return systemError;
    }
    if (!S_ISREG(info.st_mode)) {
        // A device or a pipe holds no earlier content to lose and cannot be replaced: written into.
        fcntl(existing, F_SETFL, fcntl(existing, F_GETFL) & ~O_NONBLOCK);
        descriptor = std::exchange(existingHold, -1);
        targetPath = path;
        return 0;
    }
    // Readers share, writers hold the file alone: what ExclusiveFile's WRITE gives.
    if (flock(existing, LOCK_EX | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
        systemError = held ? EACCES : errno;
        closeDescriptor(existingHold);
        return systemError;
    }
    targetPath = corePathFromUtf8(resolvedTarget(native));
    if (const int error = createBeside(targetPath, descriptor, writtenPath); error != 0) {
        systemError = error;
        closeDescriptor(existingHold);
        return systemError;
    }
    return 0;
}

bool OutputFile::write(const void* buffer, size_t count) {
    if (descriptor < 0) {
        systemError = EBADF;
        return false;
    }
    // The tests' full disk, as for every other file we write.
    if (!file_faults::writeAllowed()) {
        systemError = ENOSPC;
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const ssize_t written = ::write(int(descriptor), bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            // A write that took nothing without an error is a full disk all the same.
            systemError = written < 0 ? errno : ENOSPC;
            return false;
        }
        bytes += written;
        count -= size_t(written);
    }
    return true;
}

bool OutputFile::commit() {
    if (descriptor < 0) return systemError == 0;
    // Some file systems (network ones) report a failed write only at the close.
    const int fd = int(std::exchange(descriptor, -1));
    if (::close(fd) != 0 && errno != EINTR) {
        systemError = errno;
        discard();
        return false;
    }
    // The temporary file takes the existing one's place in one step, while we still hold that.
    if (existingHold >= 0 && !writtenPath.empty() &&
        std::rename(nativePathUtf8(writtenPath).c_str(), nativePathUtf8(targetPath).c_str()) != 0) {
        systemError = errno;
        replaceFailed = true;
        discard();
        return false;
    }
    closeDescriptor(existingHold);
    writtenPath.clear();
    return true;
}

void OutputFile::discard() {
    closeDescriptor(descriptor);
    if (!writtenPath.empty()) unlink(nativePathUtf8(writtenPath).c_str());
    writtenPath.clear();
    closeDescriptor(existingHold);
}

}  // namespace platform
