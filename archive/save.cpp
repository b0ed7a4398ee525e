#include "archive/save.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "archive/archive.h"
#include "archive/codec.h"
#include "archive/header.h"
#include "archive/legacy_decode.h"
#include "archive/progress_sink.h"
#include "archive/result_codes.h"

namespace {

// Positions and sizes in the file are 32-bit: nothing may end beyond this.
constexpr uint64_t MAX_FILE_END = std::numeric_limits<uint32_t>::max();
constexpr size_t TABLE_HEAD_BYTES = 8;  // packedTableSize, tableSize
constexpr size_t MAX_RECORD_BYTES = MAX_NAME_BYTES + 18;
// Deflate cannot expand data by more than about 1032 to 1; a claim beyond that is damage and
// must not become an allocation.
constexpr uint64_t MAX_INFLATE_RATIO = 1032;

void putU32(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

uint32_t getU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A buffer whose allocation failure becomes a result code instead of an exception.
std::unique_ptr<uint8_t[]> allocate(uint64_t size) {
    if (size > std::numeric_limits<size_t>::max()) {
        return nullptr;
    }
    // One byte at least, so an empty entry still has a valid pointer.
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[std::max<uint64_t>(size, 1)]);
}

bool readHeader(platform::ExclusiveFile& file, GrfHeader& header) {
    std::array<uint8_t, HEADER_SIZE> bytes{};
    if (!file.seek(0) || file.read(bytes.data(), bytes.size()) != bytes.size()) {
        return false;
    }
    header = GrfHeader::parse(bytes);
    return true;
}

// The bytes of the table the header names now. They must survive until the new header is
// down, or a save that fails midway would leave a header pointing at overwritten bytes.
OccupiedRange currentTable(platform::ExclusiveFile& file, uint64_t fileEnd) {
    GrfHeader header;
    if (!readHeader(file, header)) {
        return {};
    }
    const uint64_t start = uint64_t(header.tableOffset) + HEADER_SIZE;
    if (start >= fileEnd) {
        return {};
    }
    // The legacy reader takes everything from the table position on.
    if (header.majorVersion() == 2) {
        std::array<uint8_t, TABLE_HEAD_BYTES> head{};
        if (file.seek(start) && file.read(head.data(), head.size()) == head.size()) {
            return {start, start + TABLE_HEAD_BYTES + getU32(head.data())};
        }
    }
    return {start, fileEnd};
}

}  // namespace

FreeList freeSpansAround(std::vector<OccupiedRange> occupied, uint64_t fileEnd) {
    std::sort(occupied.begin(), occupied.end(),
              [](const OccupiedRange& a, const OccupiedRange& b) { return a.start < b.start; });
    FreeList freeList;
    const uint64_t limit = std::min(fileEnd, MAX_FILE_END);
    // Walking the union of the ranges: `covered` is the end of everything seen so far.
    uint64_t covered = HEADER_SIZE;
    for (const OccupiedRange& range : occupied) {
        if (range.start >= limit) {
            break;
        }
        if (range.start > covered) {
            freeList.push_back({uint32_t(covered), uint32_t(range.start - covered)});
        }
        covered = std::max(covered, range.end);
    }
    if (covered < limit) {
        freeList.push_back({uint32_t(covered), uint32_t(limit - covered)});
    }
    return freeList;
}

std::optional<uint32_t> takeFirstFit(FreeList& freeList, uint32_t length) {
    for (auto span = freeList.begin(); span != freeList.end(); ++span) {
        if (span->length < length) {
            continue;
        }
        const uint32_t start = span->start;
        span->start += length;
        span->length -= length;
        if (span->length == 0) {
            freeList.erase(span);
        }
        return start;
    }
    return std::nullopt;
}

bool buildFreeList(GrfArchive& archive, FreeList& freeList) {
    const uint64_t fileEnd = archive.file.size();
    if (fileEnd == UINT64_MAX) {
        return archive.fail(RESULT_BAD_LENGTH);
    }
    std::vector<OccupiedRange> occupied;
    occupied.reserve(archive.entries.size() + 1);
    // Deleted stored entries count too: until the new table is written, the file's table still
    // lists them.
    for (const auto& entry : archive.entries) {
        const uint64_t extent = std::max(entry->storedSize, entry->compressedSize);
        occupied.push_back({entry->offset, uint64_t(entry->offset) + extent});
    }
    occupied.push_back(currentTable(archive.file, fileEnd));
    freeList = freeSpansAround(std::move(occupied), fileEnd);
    return true;
}

bool GrfArchive::save(int level, bool useKoreanNames, ProgressSink& progress) {
    {
        // The window's list reads `entries` while we work; it must not see a half-sorted vector.
        const std::unique_lock lock(listLock);
        // Stable, so entries at the same position keep their table order.
        const auto byOffset = [](const auto& a, const auto& b) { return a->offset < b->offset; };
        std::stable_sort(entries.begin(), entries.end(), byOffset);
    }
    FreeList freeList;
    if (!buildFreeList(*this, freeList)) {
        return false;
    }
    for (const auto& entry : addedEntries) {
        // A pending entry the user removed takes no space and needs no source.
        if (entry->state == ENTRY_DELETED) {
            continue;
        }
        progress.reportStatus(entry->displayName(useKoreanNames).c_str());
        if (!entry->storeData(freeList, level, progress)) {
            return false;
        }
    }
    return writeTable(level);
}

namespace {

// The data of a stored entry of another archive, decoded and inflated; false with the code in
// that archive's lastError.
bool loadSourceEntry(const GrfEntry& sourceEntry, std::unique_ptr<uint8_t[]>& input, uint32_t& length) {
    GrfArchive& sourceArchive = *sourceEntry.owner;
    // Only a stored entry has data in its file. A deletion mark does not matter: the bytes are
    // still there, and a repack keeps such entries.
    if (sourceEntry.source != SOURCE_ARCHIVE) {
        return sourceArchive.fail(RESULT_BAD_LENGTH);
    }
    const uint64_t fileEnd = sourceArchive.file.size();
    const uint64_t storedEnd = uint64_t(sourceEntry.offset) + sourceEntry.storedSize;
    if (fileEnd == UINT64_MAX || storedEnd > fileEnd) {
        return sourceArchive.fail(RESULT_BAD_LENGTH);
    }
    // Only the stored bytes can be inflated, however long the stream claims to be.
    const size_t streamLength = std::min(sourceEntry.compressedSize, sourceEntry.storedSize);
    if (sourceEntry.originalSize > uint64_t(streamLength) * MAX_INFLATE_RATIO + 64) {
        return sourceArchive.fail(RESULT_BAD_DATA);
    }
    const auto stored = allocate(sourceEntry.storedSize);
    input = allocate(sourceEntry.originalSize);
    if (!stored || !input) {
        return sourceArchive.fail(RESULT_BAD_DATA);
    }
    if (!sourceArchive.file.seek(sourceEntry.offset) ||
        sourceArchive.file.read(stored.get(), sourceEntry.storedSize) != sourceEntry.storedSize) {
        return sourceArchive.fail(RESULT_BAD_LENGTH);
    }
    if (sourceEntry.coding >= 0) {
        decodeData(stored.get(), sourceEntry.storedSize, sourceEntry.coding);
    }
    const auto produced = inflateStream({stored.get(), streamLength}, {input.get(), sourceEntry.originalSize});
    if (!produced) {
        return sourceArchive.fail(RESULT_BAD_DATA);
    }
    // A stream that inflates short is stored with the length it has.
    length = static_cast<uint32_t>(*produced);
    return true;
}

// The disk file as it is now: a file that changed its length since it was added is taken whole.
int loadSourceFile(const std::u16string& path, std::unique_ptr<uint8_t[]>& input, uint32_t& length) {
    platform::ExclusiveFile file;
    if (file.open(path, platform::ExclusiveFile::Mode::READ) != 0) {
        return RESULT_OPEN_FAILED;
    }
    const uint64_t size = file.size();
    if (size == UINT64_MAX || size > MAX_FILE_END) {
        return RESULT_BAD_LENGTH;
    }
    input = allocate(size);
    if (!input) {
        return RESULT_BAD_DATA;
    }
    length = static_cast<uint32_t>(file.read(input.get(), size));
    return 0;
}

}  // namespace

bool GrfEntry::storeData(FreeList& freeList, int level, ProgressSink& progress) {
    GrfArchive& archive = *owner;
    std::unique_ptr<uint8_t[]> input;
    uint32_t inputLength = 0;
    if (source == SOURCE_OTHER_ENTRY && sourceEntry != nullptr) {
        if (!loadSourceEntry(*sourceEntry, input, inputLength)) {
            return archive.fail(sourceEntry->owner->lastError);
        }
    } else if (source == SOURCE_DISK_FILE) {
        const int code = loadSourceFile(sourcePath, input, inputLength);
        if (code != 0) {
            return archive.fail(code);
        }
    } else {
        // A pending entry without a source has nothing to store.
        return archive.fail(RESULT_OPEN_FAILED);
    }

    std::vector<uint8_t> stream;
    const bool compressed =
        deflateStream({input.get(), inputLength}, level, stream,
                      [&progress](size_t consumed) { progress.reportProgress(uint32_t(consumed), false); });
    progress.reportProgress(compressed ? inputLength : 0, true);
    input.reset();
    if (!compressed || stream.size() > MAX_FILE_END) {
        return archive.fail(RESULT_BAD_DATA);
    }

    const uint32_t length = static_cast<uint32_t>(stream.size());
    uint64_t position = 0;
    if (const auto gap = takeFirstFit(freeList, length)) {
        position = *gap;
    } else {
        if (!archive.file.seekEnd()) {
            return archive.fail(RESULT_BAD_LENGTH);
        }
        position = archive.file.tell();
    }
    // Past 4 GiB no position could name the data.
    if (position == UINT64_MAX || position + length > MAX_FILE_END) {
        return archive.fail(RESULT_BAD_LENGTH);
    }
    if (!archive.file.seek(position) || !archive.file.write(stream.data(), length)) {
        return archive.fail(RESULT_BAD_LENGTH);
    }
    const std::unique_lock lock(archive.listLock);
    originalSize = inputLength;
    compressedSize = length;
    storedSize = length;
    offset = static_cast<uint32_t>(position);
    return true;
}

bool GrfArchive::writeTable(int level) {
    std::vector<uint8_t> records;
    uint32_t recordCount = 0;
    records.reserve((entries.size() + addedEntries.size()) * MAX_RECORD_BYTES);
    // Stored entries first, in the order the save just sorted them, then the added ones.
    for (const auto* list : {&entries, &addedEntries}) {
        for (const auto& entry : *list) {
            if (entry->writeRecord(records)) {
                ++recordCount;
            }
        }
    }

    std::vector<uint8_t> stream;
    if (!deflateStream(records, level, stream) || records.size() > MAX_FILE_END || stream.size() > MAX_FILE_END) {
        return fail(RESULT_BAD_DATA);
    }
    std::vector<uint8_t> table(TABLE_HEAD_BYTES);
    putU32(table.data(), uint32_t(stream.size()));
    putU32(table.data() + 4, uint32_t(records.size()));
    table.insert(table.end(), stream.begin(), stream.end());

    GrfHeader header;
    if (!readHeader(file, header)) {
        return fail(RESULT_BAD_LENGTH);
    }
    if (!file.seekEnd()) {
        return fail(RESULT_BAD_LENGTH);
    }
    const uint64_t tablePosition = file.tell();
    if (tablePosition == UINT64_MAX || tablePosition + table.size() > MAX_FILE_END) {
        return fail(RESULT_BAD_LENGTH);
    }
    // The data and the table reach the disk before the header names them: a failure or a crash
    // up to the header write leaves the file with its previous table.
    if (!file.write(table.data(), table.size()) || !file.flushToDisk()) {
        return fail(RESULT_BAD_LENGTH);
    }
    header.tableOffset = uint32_t(tablePosition - HEADER_SIZE);
    header.countBias = 0;
    header.rawCount = recordCount + 7;
    header.version = VERSION_CURRENT;
    const auto bytes = header.serialize();
    if (!file.seek(0) || !file.write(bytes.data(), bytes.size()) || !file.flushToDisk()) {
        return fail(RESULT_BAD_LENGTH);
    }
    return true;
}
