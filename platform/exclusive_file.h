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

    // 0, or the runtime's error number; a file held by someone else gives EACCES (13) on both systems.
    int open(const std::u16string& path, Mode mode);
    void close();
    bool isOpen() const { return handle != nullptr; }

    bool seek(uint64_t position);
    bool seekEnd();
    // Current position; UINT64_MAX when it cannot be told.
    uint64_t tell() const;
    // Length of the file; UINT64_MAX when it cannot be told. Keeps the position.
    uint64_t size() const;
    // Bytes actually read.
    size_t read(void* buffer, size_t count);
    // True when every byte was written.
    bool write(const void* buffer, size_t count);
    // Pushes buffered bytes to the disk itself, so a later header write cannot overtake them.
    bool flushToDisk();

    // Tests only: called before every write; returning false makes that write fail.
    static void setWriteFaultHook(std::function<bool()> hook);

private:
    // A stream must be repositioned between reading and writing; Microsoft's runtime otherwise
    // drops the write while reporting success. We track the direction and do it ourselves.
    enum class Access : uint8_t { NONE, READ, WRITE };
    void turnTo(Access next);

    void* handle = nullptr;  // the runtime's FILE*, kept opaque so this header stays standard C++
    Access lastAccess = Access::NONE;
};

}  // namespace platform
