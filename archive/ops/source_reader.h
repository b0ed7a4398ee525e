#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/base/failure_reason.h"
#include "platform/input_file.h"

// A disk file's bytes as they are now, read whole or in pieces from the start: the one reader of
// the files a save stores (held whole or streamed) and of a pending entry's preview.
class SourceReader {
public:
    // Opens `path` to read and measures it; a failure carries RESULT_OPEN_FAILED with OPEN and the
    // system's error.
    [[nodiscard]] FailureReason open(const std::u16string& path);
    // The length the file had when it was opened.
    uint64_t size() const { return length; }
    // The next `count` bytes into `buffer`, in one read at a position. Fewer than the file had when
    // it was opened is a failed READ (READ_ERROR without a system error), not a shorter file.
    [[nodiscard]] FailureReason read(uint8_t* buffer, size_t count);
    // The file larger than an entry may be (4 GiB or more): FILE_TOO_LARGE; else no failure.
    [[nodiscard]] FailureReason checkEntrySize() const;

private:
    platform::InputFile file;
    std::u16string filePath;
    uint64_t length = 0;
    uint64_t position = 0;   // of the next read
};
