#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/base/outcome.h"

class TempDir;
class GrfArchive;
struct FailureReason;

// Ways to spoil an archive that TestArchive writes.
struct Damage {
    uint32_t cutTableBytes = 0;     // drop bytes from the end of the table records (before packing)
    int32_t addRecordCount = 0;     // announce more (or fewer) records than written
    int64_t moveTableOffset = 0;    // shift the header's table position
    uint32_t cutFileBytes = 0;      // drop bytes from the end of the finished file
    std::optional<uint32_t> packedTableSize;  // claim this packed length in the table head
    std::optional<uint32_t> tableSize;        // claim this inflated length in the table head
    bool corruptPackedTable = false;          // spoil the table's zlib stream

    static Damage truncateTable(uint32_t bytes) { Damage d; d.cutTableBytes = bytes; return d; }
    static Damage addToRecordCount(int32_t count) { Damage d; d.addRecordCount = count; return d; }
    static Damage shiftTableOffset(int64_t delta) { Damage d; d.moveTableOffset = delta; return d; }
    static Damage truncateFile(uint32_t bytes) { Damage d; d.cutFileBytes = bytes; return d; }
    static Damage claimPackedTableSize(uint32_t size) { Damage d; d.packedTableSize = size; return d; }
    static Damage claimTableSize(uint32_t size) { Damage d; d.tableSize = size; return d; }
    static Damage spoilTableStream() { Damage d; d.corruptPackedTable = true; return d; }
};

// Builds an archive of either generation in memory, entry by entry:
//   TestArchive().add("data\\a.txt", "hello").flags(3).add("data\\b.gat", bytes).writeTo(dir)
// Modifiers after add() apply to the entry just added.
class TestArchive {
public:
    // Legacy generation (0x100 to 0x104): coded names, coding chosen by the name's suffix.
    TestArchive& legacy(uint32_t version = 0x103);
    // The header's version field as written, whatever the generation.
    TestArchive& version(uint32_t value);
    TestArchive& damage(const Damage& value);
    // Raw current-generation records instead of the ones built from entries (data are still written).
    TestArchive& rawRecords(std::vector<uint8_t> records, uint32_t recordCount);
    // Compression level of entry data and table (default 6).
    TestArchive& level(int zlibLevel);

    TestArchive& add(std::string_view name, std::string_view data);
    TestArchive& add(std::string_view name, const std::vector<uint8_t>& data);
    // Current generation: 1 plain, 3 mixed coding, 5 header-only; other values are non-entries.
    // Legacy: 0 makes a non-entry record.
    TestArchive& flags(uint8_t value);
    // The stream stored for the entry instead of deflating its data (coding still applies).
    TestArchive& stream(std::vector<uint8_t> bytes);
    TestArchive& compressedSize(uint32_t value);
    TestArchive& storedSize(uint32_t value);
    TestArchive& originalSize(uint32_t value);
    TestArchive& dataOffset(uint32_t absolute);

    std::vector<uint8_t> bytes() const;
    // Writes the archive as `name` in `dir` and answers its core path.
    std::u16string writeTo(const TempDir& dir, const std::u16string& name = u"test.grf") const;

private:
    struct Entry {
        std::string name;
        std::vector<uint8_t> data;
        uint8_t flags = 1;
        std::optional<std::vector<uint8_t>> stream;
        std::optional<uint32_t> compressedSize;
        std::optional<uint32_t> storedSize;
        std::optional<uint32_t> originalSize;
        std::optional<uint32_t> offset;
    };
    Entry& last();

    bool isLegacy = false;
    uint32_t versionField = 0x200;
    int zlibLevel = 6;
    Damage spoil;
    std::optional<std::vector<uint8_t>> records;
    uint32_t rawRecordCount = 0;
    std::vector<Entry> entries;
};

std::vector<uint8_t> toBytes(std::string_view text);
std::vector<uint8_t> deflateBytes(const std::vector<uint8_t>& data, int level = 6);
std::vector<uint8_t> inflateBytes(const std::vector<uint8_t>& stream, size_t expected);
// The inverse of the legacy decoding, so tests can make coded data and names.
void encodeData(uint8_t* data, size_t length, int32_t coding);
void encodeNameArea(uint8_t* area, size_t length);
// The coding value a reader gives an entry: digits of compressedSize for mixed.
int32_t digitCount(uint32_t value);
// Compressible text of `size` bytes with some variety, deterministic for `seed`.
std::vector<uint8_t> sampleData(size_t size, uint32_t seed = 1);
// Bytes of `size` that deflate hardly shrinks.
std::vector<uint8_t> noiseData(size_t size, uint32_t seed = 1);
// The file's bytes, for checks on what was written.
std::vector<uint8_t> readWholeFile(const std::string& nativePath);
// Code and text of the archive's last error, for failure messages.
std::string describe(const GrfArchive& archive);
// The code, system error, cause and subject, for a failed expectation.
std::string describe(const FailureReason& reason);
std::string describe(const Outcome& outcome);
