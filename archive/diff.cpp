#include "archive/diff.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "archive/archive.h"
#include "archive/entry_data.h"
#include "archive/progress_sink.h"
#include "archive/result_codes.h"

namespace {

// The entries a side holds: what its table lists and what was added to it since, deleted ones
// left out. A folder's side has only the latter.
std::vector<const GrfEntry*> sideEntries(const GrfArchive& side) {
    std::vector<const GrfEntry*> found;
    for (const auto* list : {&side.storedEntries(), &side.pendingEntries()}) {
        for (const auto& entry : *list) {
            if (entry->state() != ENTRY_DELETED) found.push_back(entry.get());
        }
    }
    return found;
}

// The entry of `side` a look-up of `name` finds; the index folds ASCII case.
const GrfEntry* findOnSide(const GrfArchive& side, std::string_view name) {
    const GrfEntry* stored = side.findStored(name);
    if (stored != nullptr && stored->state() != ENTRY_DELETED) return stored;
    const GrfEntry* added = side.findAdded(name);
    if (added != nullptr && added->state() != ENTRY_DELETED) return added;
    return nullptr;
}

// An entry's plain bytes, through the same path extraction and the check take, or a disk file's.
struct Plain {
    std::vector<uint8_t> bytes;
    FailureReason reason;
};

Plain readDiskFile(const GrfEntry& entry) {
    Plain plain;
    const std::u16string& path = entry.sourcePath();
    platform::ExclusiveFile file;
    if (const int error = file.open(path, platform::ExclusiveFile::Mode::READ); error != 0) {
        plain.reason = systemFailure(RESULT_OPEN_FAILED, Operation::OPEN, error, path, file.heldByOther());
        return plain;
    }
    plain.bytes.resize(entry.originalSize);
    const size_t got = plain.bytes.empty() ? 0 : file.read(plain.bytes.data(), plain.bytes.size());
    if (got != plain.bytes.size()) {
        const int error = file.lastSystemError();
        plain.reason = error != 0 ? systemFailure(RESULT_OPEN_FAILED, Operation::READ, error, path)
                                  : ruleFailure(RESULT_OPEN_FAILED, Operation::READ, Cause::READ_ERROR, path);
    }
    return plain;
}

Plain readStored(const GrfEntry& entry, bool useKoreanNames) {
    Plain plain;
    EntryData data;
    if (isStreamedEntry(entry)) {
        const uint32_t streamLength = std::min(entry.compressedSize, entry.storedSize);
        const bool inflated =
            checkStreamedEntry(entry, data) &&
            streamEntryData(entry, streamLength, entry.originalSize, data, [&](std::span<const uint8_t> piece) {
                plain.bytes.insert(plain.bytes.end(), piece.begin(), piece.end());
                return 0;
            }, {});
        if (!inflated) {
            if (!data.failed()) data.fail(RESULT_BAD_DATA);
            plain.reason = entryFailure(entry, data, useKoreanNames);
        }
        return plain;
    }
    if (!loadEntryData(entry, data)) {
        if (!data.failed()) data.fail(RESULT_BAD_DATA);
        plain.reason = entryFailure(entry, data, useKoreanNames);
        return plain;
    }
    plain.bytes.assign(data.output.get(), data.output.get() + data.length);
    return plain;
}

Plain readPlain(const GrfEntry& entry, bool useKoreanNames) {
    if (entry.state() == ENTRY_ADDED) {
        if (entry.source() == SOURCE_DISK_FILE) return readDiskFile(entry);
        if (entry.source() == SOURCE_OTHER_ENTRY && entry.sourceEntry() != nullptr) {
            return readStored(*entry.sourceEntry(), useKoreanNames);
        }
        Plain nothing;
        nothing.reason = entryFailure(entry, ruleFailure(RESULT_OPEN_FAILED, Operation::EXTRACT, Cause::ENTRY_NOT_SAVED, {}),
                                      useKoreanNames);
        return nothing;
    }
    return readStored(entry, useKoreanNames);
}

// The size a side claims for an entry before anything is read.
uint64_t claimedSize(const GrfEntry& entry) { return entry.originalSize; }

}  // namespace

// Sizes first: entries whose claimed sizes differ are changed without reading either. Equal sizes
// are inflated on both sides and compared byte for byte, so a damaged entry shows up here as it
// would in a check.
Outcome diffSides(const GrfArchive& oldSide, const GrfArchive& newSide, bool useKoreanNames, ProgressSink& progress,
                  std::vector<DiffItem>& differences, uint64_t& failures) {
    differences.clear();
    failures = 0;
    const auto fail = [&](const FailureReason& reason) {
        ++failures;
        progress.reportItemFailure(reason);
    };
    for (const GrfEntry* oldEntry : sideEntries(oldSide)) {
        progress.reportStatus(oldEntry->displayName(useKoreanNames).c_str());
        const GrfEntry* newEntry = findOnSide(newSide, oldEntry->name());
        if (newEntry == nullptr) {
            differences.push_back({DiffKind::REMOVED, oldEntry, nullptr, claimedSize(*oldEntry), 0});
            progress.reportProgress(oldEntry->compressedSize, true);
            continue;
        }
        if (claimedSize(*oldEntry) != claimedSize(*newEntry)) {
            differences.push_back({DiffKind::CHANGED, oldEntry, newEntry, claimedSize(*oldEntry), claimedSize(*newEntry)});
            progress.reportProgress(oldEntry->compressedSize, true);
            continue;
        }
        const Plain before = readPlain(*oldEntry, useKoreanNames);
        const Plain after = readPlain(*newEntry, useKoreanNames);
        progress.reportProgress(oldEntry->compressedSize, true);
        // Both sides' failures are told: each is an entry the user cannot trust.
        if (before.reason.failed()) fail(before.reason);
        if (after.reason.failed()) fail(after.reason);
        if (before.reason.failed() || after.reason.failed()) continue;
        const bool same = before.bytes.size() == after.bytes.size() &&
                          (before.bytes.empty() ||
                           std::memcmp(before.bytes.data(), after.bytes.data(), before.bytes.size()) == 0);
        if (!same) {
            differences.push_back({DiffKind::CHANGED, oldEntry, newEntry, before.bytes.size(), after.bytes.size()});
        }
    }
    for (const GrfEntry* newEntry : sideEntries(newSide)) {
        if (findOnSide(oldSide, newEntry->name()) == nullptr) {
            differences.push_back({DiffKind::ADDED, nullptr, newEntry, 0, claimedSize(*newEntry)});
        }
    }
    return {};
}

void addDifferences(GrfArchive& patch, const std::shared_ptr<GrfArchive>& newSide,
                    const std::vector<DiffItem>& differences) {
    for (const DiffItem& item : differences) {
        if (item.kind == DiffKind::REMOVED) continue;
        const GrfEntry& entry = *item.newEntry;
        if (entry.state() == ENTRY_ADDED && entry.source() == SOURCE_DISK_FILE) {
            patch.addFile(entry.name(), entry.sourcePath(), entry.originalSize);
        } else if (entry.state() == ENTRY_ADDED && entry.sourceEntry() != nullptr) {
            patch.importEntry(entry.sourceEntry());
        } else {
            patch.importEntry(shareEntry(newSide, &entry));
        }
    }
}
