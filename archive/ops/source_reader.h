#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/base/failure_reason.h"
#include "platform/exclusive_file.h"

// A disk file's bytes as they are now, read whole or in pieces from the start: the one reader of
// the files a save stores (held whole or streamed) and of a pending entry's preview.
class SourceReader {
public:
    // Opens `path` to read and measures it; failures carry RESULT_OPEN_FAILED with OPEN (the file
    // cannot be opened) or READ (nor measured), and the system's error.
    [[nodiscard]] FailureReason open(const std::u16string& path);
    // The length the file had when it was opened.
    uint64_t size() const { return length; }
    // The next `count` bytes into `buffer`, one read at a position each (the stream's buffer would
    // cost a call more for every small file). Fewer than the file had when it was opened is a
    // failed READ (READ_ERROR without a system error), not a shorter file.
    [[nodiscard]] FailureReason read(uint8_t* buffer, size_t count);
    // The file larger than an entry may be (4 GiB or more): FILE_TOO_LARGE; else no failure.
    [[nodiscard]] FailureReason checkEntrySize() const;

private:
    platform::ExclusiveFile file;
    std::u16string filePath;
    uint64_t length = 0;
    uint64_t position = 0;   // of the next read
};
