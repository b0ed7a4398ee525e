#include "archive/format/file_table.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "archive/format/byte_reader.h"
#include "archive/codec/codec.h"
#include "archive/format/entry_name.h"
#include "archive/format/header.h"
#include "archive/format/little_endian.h"
#include "archive/format/legacy_decode.h"
#include "archive/base/result_codes.h"
#include "platform/exclusive_file.h"

namespace {

constexpr uint32_t VERSION_MAJOR_LEGACY = 1;
constexpr uint32_t VERSION_MAJOR_CURRENT = 2;

constexpr uint8_t FLAG_PLAIN = 1;
constexpr uint8_t FLAG_MIXED = 3;
constexpr uint8_t FLAG_HEADER_ONLY = 5;

constexpr size_t TABLE_HEAD_SIZE = 8;
// A current record: the name's terminator and the fixed fields after it.
constexpr size_t RECORD_FIXED_SIZE = 18;

// Legacy record layout, relative to the record start; L is the first field.
constexpr size_t LEGACY_NAME_AREA_OFFSET = 6;
constexpr size_t LEGACY_FIXED_OFFSET = 4;     // fixed fields start at L + 4
constexpr size_t LEGACY_FLAG_OFFSET = 16;     // flag byte at L + 16
constexpr size_t LEGACY_RECORD_EXTRA = 21;    // a record is L + 21 bytes
constexpr uint32_t LEGACY_PACKED_BIAS = 715;
constexpr uint32_t LEGACY_STORED_BIAS = 37579;
constexpr size_t CODING_BLOCK = 8;

int32_t decimalDigits(uint32_t value) {
    int32_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

// Map files, altitude, sprite actions and effect scripts carry only their first blocks coded.
bool hasHeaderOnlySuffix(std::string_view name) {
    for (const std::string_view extension : {"gnd", "gat", "act", "str"}) {
        if (hasExtension(name, extension)) return true;
    }
    return false;
}

// Length of a legacy record at the cursor, or 0 when its fixed part does not fit the table.
size_t legacyRecordLength(const ByteReader& cursor) {
    ByteReader peek = cursor;
    const uint64_t nameField = peek.u32();
    const uint64_t length = nameField + LEGACY_RECORD_EXTRA;
    if (!peek.ok() || length > cursor.remaining()) return 0;
    return size_t(length);
}

}  // namespace

bool parseRecord(uint32_t majorVersion, ByteReader& cursor, EntryRecord& record) {
    if (majorVersion != VERSION_MAJOR_LEGACY) {
        const auto recordName = cursor.cString(MAX_NAME_LENGTH);
        record.compressedSize = cursor.u32();
        record.storedSize = cursor.u32();
        record.originalSize = cursor.u32();
        record.flags = cursor.u8();
        record.offset = uint64_t(cursor.u32()) + HEADER_SIZE;
        if (!recordName || !cursor.ok()) return false;
        switch (record.flags) {
        case FLAG_PLAIN: record.coding = -1; break;
        case FLAG_MIXED: record.coding = decimalDigits(record.compressedSize); break;
        case FLAG_HEADER_ONLY: record.coding = 0; break;
        default: return false;
        }
        record.name.assign(*recordName);
        return true;
    }

    const size_t recordLength = legacyRecordLength(cursor);
    if (recordLength == 0) {
        cursor.invalidate();
        return false;
    }
    ByteReader whole = cursor;
    const std::span<const uint8_t> table = whole.take(whole.remaining());
    const uint32_t nameField = loadU32(table.data());
    const size_t fixedStart = size_t(nameField) + LEGACY_FIXED_OFFSET;
    if (table[fixedStart + LEGACY_FLAG_OFFSET - LEGACY_FIXED_OFFSET] == 0) {
        cursor.skip(recordLength);
        return false;
    }
    // A name area of negative length would put the name over the fixed fields.
    if (nameField < LEGACY_NAME_AREA_OFFSET) {
        cursor.invalidate();
        return false;
    }
    const size_t areaLength = nameField - LEGACY_NAME_AREA_OFFSET;
    const size_t codedLength = (areaLength + CODING_BLOCK - 1) / CODING_BLOCK * CODING_BLOCK;
    const size_t spanLength = std::max(recordLength, LEGACY_NAME_AREA_OFFSET + codedLength);
    if (spanLength > table.size()) {
        cursor.invalidate();
        return false;
    }
    // Decoded in a copy, so the table can stay read-only. Where the area is not a whole number
    // of blocks, the last block runs over the skipped bytes into packedSize, which is then read
    // as decoded.
    uint8_t small[512];
    std::unique_ptr<uint8_t[]> large;
    uint8_t* copy = small;
    if (spanLength > sizeof(small)) {
        large.reset(new (std::nothrow) uint8_t[spanLength]);
        if (!large) {
            cursor.invalidate();
            return false;
        }
        copy = large.get();
    }
    std::memcpy(copy, table.data(), spanLength);
    decodeNameArea(copy + LEGACY_NAME_AREA_OFFSET, ptrdiff_t(areaLength));

    ByteReader nameReader(std::span<const uint8_t>(copy + LEGACY_NAME_AREA_OFFSET, codedLength));
    const auto recordName = nameReader.cString(MAX_NAME_LENGTH);
    ByteReader fixed(std::span<const uint8_t>(copy + fixedStart, recordLength - fixedStart));
    const uint32_t packedSize = fixed.u32();
    const uint32_t packedStoredSize = fixed.u32();
    record.originalSize = fixed.u32();
    fixed.u8();
    record.offset = uint64_t(fixed.u32()) + HEADER_SIZE;
    if (!recordName) {
        cursor.invalidate();
        return false;
    }
    cursor.skip(recordLength);

    record.compressedSize = packedSize - record.originalSize - LEGACY_PACKED_BIAS;
    record.storedSize = packedStoredSize - LEGACY_STORED_BIAS;
    if (hasHeaderOnlySuffix(*recordName)) {
        record.coding = 0;
        // Flag 5 keeps the header-only coding when a save writes this entry into a new table.
        record.flags = FLAG_HEADER_ONLY;
    } else {
        // Names without a dot are coded like any other suffix.
        record.coding = decimalDigits(record.compressedSize);
        record.flags = FLAG_PLAIN;
    }
    record.name.assign(*recordName);
    return true;
}

bool isReachablePosition(uint64_t position) {
    return position >= HEADER_SIZE && position <= MAX_POSITION;
}

bool EntryRecord::dataReachable() const {
    return isReachablePosition(offset);
}

std::optional<ByteRange> namedTableRange(platform::ExclusiveFile& file, uint64_t fileEnd) {
    std::array<uint8_t, HEADER_SIZE> bytes{};
    if (!file.seek(0) || file.read(bytes.data(), bytes.size()) != bytes.size()) return std::nullopt;
    const GrfHeader header = GrfHeader::parse(bytes);
    const uint64_t start = uint64_t(header.tableOffset) + HEADER_SIZE;
    if (start >= fileEnd) return ByteRange{};
    // The legacy reader takes everything from the table position on.
    if (header.majorVersion() != VERSION_MAJOR_CURRENT) return ByteRange{start, fileEnd};
    uint8_t head[TABLE_HEAD_SIZE];
    if (!file.seek(start) || file.read(head, sizeof(head)) != sizeof(head)) return std::nullopt;
    return ByteRange{start, start + TABLE_HEAD_SIZE + loadU32(head)};
}

Outcome readFileTable(platform::ExclusiveFile& file, const std::u16string& path, FileTable& result) {
    result = {};
    // A read that failed keeps the system's error; one that met the end early is the file's length.
    auto failedRead = [&](int code) {
        const int systemError = file.lastSystemError();
        return systemError != 0 ? systemFailure(code, Operation::READ, systemError, path)
                                : codeFailure(code, Operation::READ);
    };
    auto outOfMemory = [](int code) { return memoryFailure(code, Operation::READ); };

    std::array<uint8_t, HEADER_SIZE> headerBytes{};
    if (!file.seek(0) || file.read(headerBytes.data(), headerBytes.size()) != headerBytes.size()) {
        return failedRead(RESULT_INVALID_ARCHIVE);
    }
    const GrfHeader header = GrfHeader::parse(headerBytes);
    if (!header.hasMagic()) return codeFailure(RESULT_INVALID_ARCHIVE);
    if (!header.isSupportedVersion()) return codeFailure(RESULT_BAD_VERSION);
    const uint32_t majorVersion = header.majorVersion();
    result.majorVersion = majorVersion;

    const uint64_t fileLength = file.size();
    const uint64_t tableStart = uint64_t(header.tableOffset) + HEADER_SIZE;
    std::unique_ptr<uint8_t[]> table;
    size_t tableLength = 0;

    // What creating an archive writes: a header naming a table at the end of the file, no
    // records. Files like that exist wherever a new archive was never saved; they hold nothing.
    if (fileLength != UINT64_MAX && tableStart >= fileLength && header.recordCount() == 0) return {};
    if (fileLength == UINT64_MAX) return failedRead(RESULT_BAD_LENGTH);
    if (majorVersion == VERSION_MAJOR_LEGACY) {
        if (tableStart > fileLength) return codeFailure(RESULT_BAD_LENGTH);
        if (!file.seek(tableStart)) return failedRead(RESULT_BAD_LENGTH);
        tableLength = size_t(fileLength - tableStart);
        table.reset(new (std::nothrow) uint8_t[std::max<size_t>(tableLength, 1)]);
        if (!table) return outOfMemory(RESULT_BAD_LENGTH);
        if (file.read(table.get(), tableLength) != tableLength) return failedRead(RESULT_TABLE_SHORT);
    } else {
        uint8_t head[TABLE_HEAD_SIZE];
        if (tableStart + TABLE_HEAD_SIZE > fileLength) return codeFailure(RESULT_BAD_LENGTH);
        if (!file.seek(tableStart) || file.read(head, sizeof(head)) != sizeof(head)) {
            return failedRead(RESULT_BAD_LENGTH);
        }
        const uint32_t packedTableSize = loadU32(head);
        const uint32_t tableSize = loadU32(head + 4);
        // Checked against the file before anything is allocated for it.
        if (tableStart + TABLE_HEAD_SIZE + packedTableSize > fileLength) {
            return codeFailure(RESULT_TABLE_SHORT);
        }
        std::unique_ptr<uint8_t[]> packed(new (std::nothrow) uint8_t[std::max<uint32_t>(packedTableSize, 1)]);
        if (!packed) return outOfMemory(RESULT_TABLE_SHORT);
        if (file.read(packed.get(), packedTableSize) != packedTableSize) {
            return failedRead(RESULT_TABLE_SHORT);
        }

        const uint64_t capacity = std::min<uint64_t>(tableSize, maxInflatedSize(packedTableSize));
        table.reset(new (std::nothrow) uint8_t[std::max<uint64_t>(capacity, 1)]);
        if (!table) return outOfMemory(RESULT_BAD_DATA);
        const auto inflated = inflateStream({packed.get(), packedTableSize}, {table.get(), size_t(capacity)});
        if (!inflated) return codeFailure(RESULT_BAD_DATA, Operation::INFLATE);
        tableLength = *inflated;
    }

    ByteReader cursor(std::span<const uint8_t>(table.get(), tableLength));
    const uint32_t recordCount = header.recordCount();
    // The count comes from the file; no record is shorter than its fixed fields.
    result.records.reserve(std::min<size_t>(recordCount, tableLength / RECORD_FIXED_SIZE + 1));
    EntryRecord record;
    for (uint32_t i = 0; i < recordCount; ++i) {
        const bool isEntry = parseRecord(majorVersion, cursor, record);
        if (!cursor.ok()) {
            result.records.clear();
            return codeFailure(RESULT_TABLE_SHORT);
        }
        if (isEntry) result.records.push_back(std::move(record));
        record = {};
    }
    return {};
}
