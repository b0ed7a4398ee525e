#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/exclusive_file.h"

namespace platform {

// A file written once from start to end, such as an extracted entry. A path that does not exist
// yet is created in one call and needs no lock (nobody can hold what did not exist); an existing
// one is opened as ExclusiveFile's WRITE: held alone, then emptied. Move-only; closes itself.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // 0, or the runtime's error number as ExclusiveFile::open gives it.
    int create(const std::u16string& path);
    // True when every byte was written.
    bool write(const void* buffer, size_t count);
    // True when the file closed cleanly: where the system writes what it still held, a full
    // disk may show only here. Closing a closed file answers true.
    bool close();
    // The system's error number of the last write or close that failed, 0 when none did.
    int lastSystemError() const { return systemError; }

private:
    intptr_t descriptor = -1;  // the fresh file's, where the system gives one
    ExclusiveFile existing;
    int systemError = 0;
};

}  // namespace platform
