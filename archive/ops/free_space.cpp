#include "archive/ops/free_space.h"

#include <algorithm>

#include "archive/base/result_codes.h"
#include "archive/format/entry_record.h"
#include "archive/format/file_table.h"
#include "archive/format/header.h"
#include "archive/model/archive.h"

FreeList freeSpansAround(std::vector<OccupiedRange> occupied, uint64_t fileEnd) {
    std::sort(occupied.begin(), occupied.end(),
              [](const OccupiedRange& a, const OccupiedRange& b) { return a.start < b.start; });
    FreeList freeList;
    // Nothing is placed where no record could name it.
    const uint64_t limit = std::min(fileEnd, MAX_POSITION);
    // Walking the union of the ranges: `covered` is the end of everything seen so far.
    uint64_t covered = HEADER_SIZE;
    for (const OccupiedRange& range : occupied) {
        if (range.start >= limit) {
            break;
        }
        if (range.start > covered) {
            freeList.push_back({covered, range.start - covered});
        }
        covered = std::max(covered, range.end);
    }
    if (covered < limit) {
        freeList.push_back({covered, limit - covered});
    }
    return freeList;
}

std::optional<uint64_t> takeFirstFit(FreeList& freeList, uint64_t length) {
    for (auto span = freeList.begin(); span != freeList.end(); ++span) {
        if (span->length < length) {
            continue;
        }
        const uint64_t start = span->start;
        span->start += length;
        span->length -= length;
        if (span->length == 0) {
            freeList.erase(span);
        }
        return start;
    }
    return std::nullopt;
}

Outcome buildFreeList(GrfArchive& archive, FreeList& freeList) {
    const uint64_t fileEnd = archive.file.size();
    if (fileEnd == UINT64_MAX) {
        return archive.failIo(RESULT_BAD_LENGTH, Operation::SEEK, archive.file, archive.path);
    }
    std::vector<OccupiedRange> occupied;
    occupied.reserve(archive.storedEntries().size() + 1);
    // Deleted stored entries count too: until the new table is written, the file's table still
    // lists them.
    for (const auto& entry : archive.storedEntries()) {
        const uint64_t extent = std::max(entry->storedSize(), entry->compressedSize());
        occupied.push_back({entry->offset(), entry->offset() + extent});
    }
    // The bytes of the table the header names now must survive until the new header is down, or
    // a save that fails midway would leave a header pointing at overwritten bytes. When the header
    // cannot be read, nothing may be written: the save could overwrite the table the file still names.
    const auto table = namedTableRange(archive.file, fileEnd);
    if (!table) {
        return archive.failIo(RESULT_BAD_LENGTH, Operation::READ, archive.file, archive.path);
    }
    occupied.push_back({table->start, table->end});
    freeList = freeSpansAround(std::move(occupied), fileEnd);
    return {};
}
