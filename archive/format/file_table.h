#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/base/outcome.h"
#include "archive/format/entry_record.h"
#include "platform/exclusive_file.h"

class ByteReader;

// The table a file's header names, read: its generation and its entries' records in table order.
struct FileTable {
    uint32_t majorVersion = 0;
    std::vector<EntryRecord> records;
};

// Reads the header and the table of `file` (named `path` in failures). Failures: RESULT_INVALID_ARCHIVE,
// RESULT_BAD_VERSION, RESULT_BAD_LENGTH, RESULT_TABLE_SHORT and RESULT_BAD_DATA, with the system's
// error where a read failed.
Outcome readFileTable(platform::ExclusiveFile& file, const std::u16string& path, FileTable& table);

// Bytes [start, end) of a file.
struct ByteRange {
    uint64_t start = 0;
    uint64_t end = 0;
};
// The bytes of the table the header of `file` names now: an empty range when it names none
// before `fileEnd` (a created archive); nullopt when the header or the table's head cannot be read.
std::optional<ByteRange> namedTableRange(platform::ExclusiveFile& file, uint64_t fileEnd);

// One record of the given major version; false when it is not an entry (a legacy record marked
// empty) or is malformed (then `cursor` is no longer ok()).
bool parseRecord(uint32_t majorVersion, ByteReader& cursor, EntryRecord& record);
// Appends the current-generation record; false, with nothing appended, when its data lie where
// no record can name them.
bool appendRecord(std::vector<uint8_t>& out, const EntryRecord& record);

// Writes the table of `records` (`recordCount` of them, as appendRecord made them) at the end of
// `file` and then the header that names it; each reaches the disk before the next step, so a
// failure up to the header leaves the previous table named. ARCHIVE_TOO_LARGE when the table
// would end beyond 32-bit positions.
Outcome writeFileTable(platform::ExclusiveFile& file, const std::u16string& path, const std::vector<uint8_t>& records,
                       uint32_t recordCount, int level);
