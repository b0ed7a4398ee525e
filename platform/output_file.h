#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A file written once from start to end, such as an extracted entry, that shows under its name
// only whole. A path that does not exist yet is created in one call and written in place (nobody
// can hold or lose what did not exist). Over an existing file the bytes go to a temporary file
// beside it, which commit() moves over it; meanwhile the existing file is held as ExclusiveFile's
// WRITE holds it, so one that another program holds is refused before anything is written.
// A file neither committed nor discarded is discarded when it goes.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // 0, or the runtime's error number: EACCES with heldByOther() for a file another program
    // holds, EISDIR for a directory standing at `path`.
    int create(const std::u16string& path);
    // True when every byte was written.
    bool write(const void* buffer, size_t count);
    // Closes the file and puts it under its name. False when the close (where a full disk may
    // show only) or the move failed: then what was written is gone and an earlier file at the
    // path is as it was.
    bool commit();
    // Closes and removes what was written; an earlier file at the path stays as it was.
    void discard();
    // The system's error number of the last create, write, close or move that failed, 0 when
    // none did.
    int lastSystemError() const { return systemError; }
    // True when the last failure was another program holding the existing file.
    bool heldByOther() const { return held; }
    // True when commit() failed at moving the finished file over the existing one.
    bool failedToReplace() const { return replaceFailed; }

private:
    intptr_t descriptor = -1;     // the file written: a descriptor on POSIX, a HANDLE on Windows
    intptr_t existingHold = -1;   // the existing file at the target while we replace it
    std::u16string targetPath;
    std::u16string writtenPath;   // empty when nothing is open or left to clean up
    int systemError = 0;
    bool held = false;
    bool replaceFailed = false;
};

}  // namespace platform
