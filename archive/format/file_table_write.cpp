#include <array>
#include <vector>

#include "archive/base/result_codes.h"
#include "archive/codec/codec.h"
#include "archive/format/file_table.h"
#include "archive/format/header.h"
#include "archive/format/little_endian.h"

namespace {

constexpr uint8_t FLAG_MIXED = 3;
constexpr size_t TABLE_HEAD_BYTES = 8;  // packedTableSize, tableSize

Outcome failTooLarge(const std::u16string& path) {
    return ruleFailure(RESULT_BAD_LENGTH, Operation::WRITE, Cause::ARCHIVE_TOO_LARGE, path);
}

}  // namespace

bool appendRecord(std::vector<uint8_t>& out, const EntryRecord& record) {
    if (!record.dataReachable()) return false;
    out.insert(out.end(), record.name.begin(), record.name.end());
    out.push_back(0);
    appendU32(out, record.compressedSize);
    appendU32(out, record.storedSize);
    appendU32(out, record.originalSize);
    out.push_back(record.coding > 0 ? FLAG_MIXED : record.flags);
    appendU32(out, uint32_t(record.offset - HEADER_SIZE));
    return true;
}

Outcome writeFileTable(platform::ExclusiveFile& file, const std::u16string& path, const std::vector<uint8_t>& records,
                       uint32_t recordCount, int level) {
    const auto failOnFile = [&](Operation operation) {
        return fileFailure(RESULT_BAD_LENGTH, operation, file.lastSystemError(), path);
    };
    std::vector<uint8_t> stream;
    if (records.size() > MAX_POSITION) return failTooLarge(path);
    if (!deflateStream(records, level, stream)) {
        return ruleFailure(RESULT_BAD_DATA, Operation::DEFLATE, Cause::NONE, path);
    }
    if (stream.size() > MAX_POSITION) return failTooLarge(path);
    std::vector<uint8_t> table(TABLE_HEAD_BYTES);
    storeU32(table.data(), uint32_t(stream.size()));
    storeU32(table.data() + 4, uint32_t(records.size()));
    table.insert(table.end(), stream.begin(), stream.end());

    std::array<uint8_t, HEADER_SIZE> previous{};
    if (!file.seek(0) || file.read(previous.data(), previous.size()) != previous.size()) {
        return failOnFile(Operation::READ);
    }
    GrfHeader header = GrfHeader::parse(previous);
    if (!file.seekEnd()) return failOnFile(Operation::SEEK);
    const uint64_t tablePosition = file.tell();
    if (tablePosition == UINT64_MAX) return failOnFile(Operation::SEEK);
    if (tablePosition + table.size() > MAX_POSITION) return failTooLarge(path);
    // The data and the table reach the disk before the header names them: a failure or a crash
    // up to the header write leaves the file with its previous table.
    if (!file.write(table.data(), table.size())) return failOnFile(Operation::WRITE);
    if (!file.flushToDisk()) return failOnFile(Operation::FLUSH);
    header.tableOffset = uint32_t(tablePosition - HEADER_SIZE);
    header.countBias = 0;
    header.rawCount = recordCount + 7;
    header.version = VERSION_CURRENT;
    const auto bytes = header.serialize();
    if (!file.seek(0)) return failOnFile(Operation::SEEK);
    if (!file.write(bytes.data(), bytes.size())) return failOnFile(Operation::WRITE);
    if (!file.flushToDisk()) return failOnFile(Operation::FLUSH);
    return {};
}
