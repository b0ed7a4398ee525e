#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A file read at positions and never written, such as a file a save stores: shared with other
// readers, while nobody may write it (what ExclusiveFile's READ gives), without a stream's buffer
// or its system calls. Move-only; closes itself.
class InputFile {
public:
    InputFile() = default;
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() { close(); }

    // 0, or the runtime's error number: EACCES with heldByOther() for a file another program
    // holds, EACCES for a directory. Measures the file.
    int open(const std::u16string& path);
    void close();
    bool isOpen() const { return handle != -1; }
    // The length the file had when it was opened.
    uint64_t size() const { return length; }
    // Bytes actually read at `position`; fewer than `count` at the end of the file or after a
    // failure, which lastSystemError() then names.
    size_t readAt(uint64_t position, void* buffer, size_t count);
    // The system's error number of the last open or read that failed, 0 when none did.
    int lastSystemError() const { return systemError; }
    // True when the last open failed because another program holds the file.
    bool heldByOther() const { return held; }

private:
    intptr_t handle = -1;   // a descriptor on POSIX, a HANDLE on Windows
    uint64_t length = 0;
    int systemError = 0;
    bool held = false;
};

}  // namespace platform
