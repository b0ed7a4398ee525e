#pragma once
#include <cstdint>
#include <limits>
#include <string>

// Positions and sizes in a record are 32-bit: no data or table may end beyond this.
constexpr uint64_t MAX_POSITION = std::numeric_limits<uint32_t>::max();

// One record of an archive's table, as the table holds it.
struct EntryRecord {
    std::string name;             // bytes as stored, backslash-separated
    uint32_t compressedSize = 0;  // the zlib stream's length
    uint32_t storedSize = 0;      // the bytes the data take in the file (the stream, padded)
    uint32_t originalSize = 0;
    uint64_t offset = 0;          // absolute position of the data
    int32_t coding = 0;           // -1 none, 0 header-only, n > 0 mixed
    uint8_t flags = 1;

    bool dataReachable() const;
};

// Whether a record can name data at `position`: a field plus the header's length may pass 32
// bits, and then no record of the format reaches it.
bool isReachablePosition(uint64_t position);
