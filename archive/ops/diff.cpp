#include "archive/ops/diff.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "archive/model/archive.h"
#include "archive/ops/entry_data.h"
#include "archive/ops/source_reader.h"
#include "archive/model/entry_list_model.h"
#include "archive/ops/ordered_pipeline.h"
#include "archive/ops/plain_cursor.h"
#include "archive/base/progress_sink.h"
#include "archive/base/result_codes.h"

namespace {

// The entry of `side` a look-up of `name` finds; the index folds ASCII case.
const GrfEntry* findOnSide(const GrfArchive& side, std::string_view name) {
    const GrfEntry* stored = side.findStored(name);
    if (stored != nullptr && stored->state() != ENTRY_DELETED) return stored;
    const GrfEntry* added = side.findAdded(name);
    if (added != nullptr && added->state() != ENTRY_DELETED) return added;
    return nullptr;
}

// The entries a side holds: what its table lists and what was added to it since, deleted ones
// left out. A folder's side has only the latter. Of several records of one name only the one a
// look-up finds counts, as it is the one every reader of the archive gets.
std::vector<const GrfEntry*> sideEntries(const GrfArchive& side, const EntryFilter& filter, bool useKoreanNames) {
    std::vector<const GrfEntry*> found;
    for (const auto* list : {&side.storedEntries(), &side.pendingEntries()}) {
        for (const auto& entry : *list) {
            if (entry->state() != ENTRY_DELETED && filter.matches(entry->displayName(useKoreanNames)) &&
                findOnSide(side, entry->name()) == entry.get()) {
                found.push_back(entry.get());
            }
        }
    }
    return found;
}

// A disk file's plain bytes read whole on the calling thread.
struct Plain {
    std::vector<uint8_t> bytes;
    FailureReason reason;
};

Plain readDiskFile(const GrfEntry& entry) {
    Plain plain;
    const std::u16string& path = entry.sourcePath();
    SourceReader file;
    plain.reason = file.open(path);
    if (plain.reason.failed()) return plain;
    plain.bytes.resize(entry.originalSize());
    if (!plain.bytes.empty()) plain.reason = file.read(plain.bytes.data(), plain.bytes.size());
    return plain;
}

// The entry whose stored bytes stand for `entry`: its own, or those of the archive entry it imports.
const GrfEntry* storedSourceOf(const GrfEntry& entry) {
    if (entry.state() != ENTRY_ADDED) return &entry;
    if (entry.source() == SOURCE_OTHER_ENTRY) return entry.sourceEntry().get();
    return nullptr;
}

// One side of a pair: read on the calling thread, which alone touches the archives' files;
// inflated on a pool thread, or, too large to hold whole, compared piece by piece in its turn.
struct SideData {
    const GrfEntry* entry = nullptr;
    bool toInflate = false;  // `data` holds stored bytes for the pool
    bool inPieces = false;
    EntryData data;
    Plain whole;             // a disk file, or why the side could not be had

    bool isDiskFile() const { return entry->state() == ENTRY_ADDED && entry->source() == SOURCE_DISK_FILE; }
    void read(bool useKoreanNames) {
        if (isDiskFile()) {
            inPieces = entry->originalSize() > STREAM_ABOVE_BYTES;
            if (!inPieces) whole = readDiskFile(*entry);
            return;
        }
        const GrfEntry* const stored = storedSourceOf(*entry);
        if (stored == nullptr) {
            whole.reason = entryFailure(
                *entry, ruleFailure(RESULT_OPEN_FAILED, Operation::EXTRACT, Cause::ENTRY_NOT_SAVED, {}), useKoreanNames);
            return;
        }
        inPieces = isStreamedEntry(*stored);
        if (inPieces) return;
        toInflate = readEntryData(*stored, data);
        if (!toInflate) whole.reason = entryFailure(*stored, data, useKoreanNames);
    }
    std::span<const uint8_t> bytes() const {
        if (toInflate) return {data.output.get(), data.length};
        return whole.bytes;
    }
    std::unique_ptr<PlainCursor> cursor() const {
        if (!inPieces) return memoryCursor(bytes());
        if (isDiskFile()) return fileCursor(entry->sourcePath(), entry->originalSize());
        return entryCursor(*storedSourceOf(*entry));
    }
    // Why the cursor failed, about the entry (a disk file's reason names the file already).
    FailureReason cursorFailure(const PlainCursor& cursor, bool useKoreanNames) const {
        return isDiskFile() ? cursor.reason : entryFailure(*storedSourceOf(*entry), cursor.reason, useKoreanNames);
    }
    uint64_t footprint() const { return toInflate ? uint64_t(data.storedSize) + data.capacity : whole.bytes.size(); }
};

// One entry of the old side, taken back in order: a pair to compare, or a difference known at once.
// Identical stored bytes under the same coding inflate to identical plain bytes.
bool sameStoredBytes(const EntryData& a, const EntryData& b) {
    return a.coding == b.coding && a.storedSize == b.storedSize && a.compressedSize == b.compressedSize &&
           (a.storedSize == 0 || std::memcmp(a.storedBytes(), b.storedBytes(), a.storedSize) == 0);
}

// The same for two entries too large to hold whole, read a piece at a time; false also when either
// cannot be read (the plain comparison then says why).
bool sameStoredStreams(const GrfEntry& a, const GrfEntry& b) {
    if (a.coding() != b.coding() || a.storedSize() != b.storedSize() || a.compressedSize() != b.compressedSize()) return false;
    constexpr size_t PIECE_BYTES = 1 << 20;
    std::vector<uint8_t> pieceA(PIECE_BYTES), pieceB(PIECE_BYTES);
    for (uint32_t from = 0; from < a.storedSize();) {
        const size_t length = std::min<size_t>(a.storedSize() - from, PIECE_BYTES);
        EntryData data;
        if (!readStoredPiece(a, from, pieceA.data(), length, data) || !readStoredPiece(b, from, pieceB.data(), length, data) ||
            std::memcmp(pieceA.data(), pieceB.data(), length) != 0) {
            return false;
        }
        from += uint32_t(length);
    }
    return true;
}

class CompareJob : public PipelineJob {
public:
    void run() override {
        for (SideData* side : {&before, &after}) {
            if (side->toInflate && !inflateEntryData(side->data, {}) && !side->data.failed()) {
                side->data.fail(RESULT_BAD_DATA);
            }
        }
    }

    std::optional<DiffItem> known;
    bool sameStreams = false;
    SideData before;
    SideData after;
};

// The side's failure after its inflation, about the entry as the side names it.
FailureReason sideFailure(const SideData& side, Cause thrown, bool useKoreanNames) {
    if (side.whole.reason.failed()) return side.whole.reason;
    if (!side.toInflate) return {};
    if (thrown != Cause::NONE) {
        return entryFailure(*storedSourceOf(*side.entry), ruleFailure(RESULT_BAD_DATA, Operation::INFLATE, thrown, {}),
                            useKoreanNames);
    }
    return side.data.failed() ? entryFailure(*storedSourceOf(*side.entry), side.data, useKoreanNames) : FailureReason{};
}

struct Comparison {
    bool same = false;
    uint64_t oldSize = 0;
    uint64_t newSize = 0;
    FailureReason failure;  // of the side that could not be read
};

// Compares the plain bytes of both sides a piece at a time, leaving at the first byte that differs.
// The sizes are the bytes a side gave where it was read to its end, else the table's.
Comparison compare(const SideData& before, const SideData& after, bool useKoreanNames) {
    if (before.inPieces && after.inPieces && !before.isDiskFile() && !after.isDiskFile() &&
        sameStoredStreams(*storedSourceOf(*before.entry), *storedSourceOf(*after.entry))) {
        return {true, before.entry->originalSize(), after.entry->originalSize(), {}};
    }
    const std::unique_ptr<PlainCursor> cursors[2] = {before.cursor(), after.cursor()};
    const SideData* sides[2] = {&before, &after};
    std::span<const uint8_t> pieces[2];
    uint64_t seen[2] = {0, 0};
    bool ended[2] = {false, false};
    for (;;) {
        for (int i = 0; i < 2; ++i) {
            if (!pieces[i].empty() || ended[i]) continue;
            if (!cursors[i]->next(pieces[i])) return {false, 0, 0, sides[i]->cursorFailure(*cursors[i], useKoreanNames)};
            seen[i] += pieces[i].size();
            ended[i] = pieces[i].empty();
        }
        if (ended[0] || ended[1]) {
            return {ended[0] && ended[1], ended[0] ? seen[0] : before.entry->originalSize(),
                    ended[1] ? seen[1] : after.entry->originalSize(), {}};
        }
        const size_t length = std::min(pieces[0].size(), pieces[1].size());
        if (std::memcmp(pieces[0].data(), pieces[1].data(), length) != 0) {
            return {false, before.entry->originalSize(), after.entry->originalSize(), {}};
        }
        pieces[0] = pieces[0].subspan(length);
        pieces[1] = pieces[1].subspan(length);
    }
}

// The bytes the entries read ahead may hold together (more when a single pair is larger).
constexpr uint64_t AHEAD_BYTES = 96ull << 20;

}  // namespace

// Sizes first: entries whose claimed sizes differ are changed without reading either. Then stored
// bytes: identical ones are equal without inflating (damage both copies share is left to a check).
// The rest are inflated on both sides, on the pool's threads as a check inflates, and compared
// byte for byte, so a damaged entry shows up here as it would in a check.
Outcome diffSides(const GrfArchive& oldSide, const GrfArchive& newSide, bool useKoreanNames, const EntryFilter& filter,
                  ProgressSink& progress, std::vector<DiffItem>& differences, uint64_t& failures, unsigned threads) {
    differences.clear();
    failures = 0;
    const std::vector<const GrfEntry*> oldEntries = sideEntries(oldSide, filter, useKoreanNames);
    OrderedPipeline pipeline(threads, AHEAD_BYTES);
    size_t next = 0;
    const auto readAhead = [&] {
        while (next < oldEntries.size()) {
            const GrfEntry* const oldEntry = oldEntries[next];
            const GrfEntry* const newEntry = findOnSide(newSide, oldEntry->name());
            const uint64_t expected =
                newEntry == nullptr ? 0 : uint64_t(oldEntry->storedSize()) + oldEntry->originalSize() + newEntry->storedSize() +
                                              newEntry->originalSize();
            if (!pipeline.hasRoom(expected)) break;
            ++next;
            auto job = std::make_unique<CompareJob>();
            job->before.entry = oldEntry;
            job->after.entry = newEntry;
            job->runnable = false;
            if (newEntry == nullptr) {
                job->known = DiffItem{DiffKind::REMOVED, oldEntry, nullptr, oldEntry->originalSize(), 0};
            } else if (oldEntry->originalSize() != newEntry->originalSize()) {
                job->known = DiffItem{DiffKind::CHANGED, oldEntry, newEntry, oldEntry->originalSize(), newEntry->originalSize()};
            } else {
                job->before.read(useKoreanNames);
                job->after.read(useKoreanNames);
                // Most entries of two editions of an archive were stored once and copied since:
                // equal without inflating either, and without a trip through the pool.
                job->sameStreams = job->before.toInflate && job->after.toInflate &&
                                   sameStoredBytes(job->before.data, job->after.data);
                if (job->sameStreams) {
                    job->before.data = {};
                    job->after.data = {};
                }
                job->runnable = !job->sameStreams && (job->before.toInflate || job->after.toInflate);
                job->footprint = job->before.footprint() + job->after.footprint();
            }
            pipeline.add(std::move(job));
        }
    };

    readAhead();
    while (!pipeline.empty()) {
        const GrfEntry& oldEntry = *static_cast<CompareJob&>(pipeline.front()).before.entry;
        progress.reportStatus(oldEntry.displayName(useKoreanNames).c_str());
        const auto done = pipeline.takeAs<CompareJob>({});
        readAhead();
        progress.reportProgress(oldEntry.compressedSize(), true);
        if (done->known) {
            differences.push_back(*done->known);
            continue;
        }
        if (done->sameStreams) continue;
        // Both sides' failures are told: each is an entry the user cannot trust.
        bool failed = false;
        for (const SideData* side : {&done->before, &done->after}) {
            if (FailureReason reason = sideFailure(*side, done->thrown, useKoreanNames); reason.failed()) {
                ++failures;
                progress.reportItemFailure(reason);
                failed = true;
            }
        }
        if (failed) continue;
        const Comparison compared = compare(done->before, done->after, useKoreanNames);
        if (compared.failure.failed()) {
            ++failures;
            progress.reportItemFailure(compared.failure);
        } else if (!compared.same) {
            differences.push_back(
                {DiffKind::CHANGED, done->before.entry, done->after.entry, compared.oldSize, compared.newSize});
        }
    }
    for (const GrfEntry* newEntry : sideEntries(newSide, filter, useKoreanNames)) {
        if (findOnSide(oldSide, newEntry->name()) == nullptr) {
            differences.push_back({DiffKind::ADDED, nullptr, newEntry, 0, newEntry->originalSize()});
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
            patch.addFile(entry.name(), entry.sourcePath(), entry.originalSize());
        } else if (entry.state() == ENTRY_ADDED && entry.sourceEntry() != nullptr) {
            patch.importEntry(entry.sourceEntry(), ImportedStream::COPY);
        } else {
            patch.importEntry(shareEntry(newSide, &entry), ImportedStream::COPY);
        }
    }
}
