#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// A file that no other program may write while we hold it. Move-only; closes itself.
// Paths are UTF-16 with backslashes; POSIX turns them into UTF-8 with slashes.
class ExclusiveFile {
public:
    // READ "rb" (others may read), UPDATE "rb+", CREATE "wb+", WRITE "wb" (no one else may open it).
    enum class Mode { READ, UPDATE, CREATE, WRITE };

    ExclusiveFile() = default;
    ExclusiveFile(ExclusiveFile&& other) noexcept;
    ExclusiveFile& operator=(ExclusiveFile&& other) noexcept;
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;
    ~ExclusiveFile();

    // 0, or the runtime's error number; a file held by someone else gives EACCES (13) on both
    // systems, and heldByOther() then tells it from a plain refusal.
    int open(const std::u16string& path, Mode mode);
    // True when the buffered bytes reached the file and it closed cleanly (a close is a write).
    bool close();
    bool isOpen() const { return handle != nullptr; }
    // The system's error number of the last call that failed, 0 when none did or a read merely
    // met the end of the file; kept until the next failure or open.
    int lastSystemError() const { return systemError; }
    // True when the last open failed because another program holds the file.
    bool heldByOther() const { return held; }

    bool seek(uint64_t position);
    bool seekEnd();
    // Current position; UINT64_MAX when it cannot be told.
    uint64_t tell() const;
    // Length of the file; UINT64_MAX when it cannot be told. Keeps the position.
    uint64_t size() const;
    // Bytes actually read.
    size_t read(void* buffer, size_t count);
    // Bytes actually read at `position`, in as few system calls as it allows (one on POSIX,
    // which keeps the stream's position); seek before the next read() or write().
    size_t readAt(uint64_t position, void* buffer, size_t count);
    // True when every byte was written.
    bool write(const void* buffer, size_t count);
    // Pushes buffered bytes to the disk itself, so a later header write cannot overtake them.
    bool flushToDisk();
    // Gives the file back its first `length` bytes only, after a failed write as well: what the
    // stream still held is written first or, when that fails, dropped. The position is then 0.
    bool truncate(uint64_t length);

private:
    // A stream must be repositioned between reading and writing; Microsoft's runtime otherwise
    // drops the write while reporting success. We track the direction and do it ourselves.
    enum class Access : uint8_t { NONE, READ, WRITE };
    void turnTo(Access next);

    // Records errno (or `fallback` when the runtime set none) as the last failure; answers false.
    bool failWith(int fallback);

    void* handle = nullptr;  // the runtime's FILE*, kept opaque so this header stays standard C++
    Access lastAccess = Access::NONE;
    int systemError = 0;
    bool held = false;
};

}  // namespace platform
