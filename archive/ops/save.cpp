#include "archive/ops/save.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "archive/base/progress_sink.h"
#include "archive/base/result_codes.h"
#include "archive/codec/codec.h"
#include "archive/format/entry_record.h"
#include "archive/format/file_table.h"
#include "archive/format/header.h"
#include "archive/model/archive.h"
#include "archive/model/staging.h"
#include "archive/ops/free_space.h"
#include "archive/ops/ordered_pipeline.h"
#include "archive/ops/save_source.h"

namespace {

// A failed call on the archive's own file, with the system's cause ("No space left on device").
Outcome failOnFile(GrfArchive& archive, Operation operation) {
    return archive.failIo(RESULT_BAD_LENGTH, operation, archive.file, archive.path);
}

// Data or the table would end where no 32-bit position reaches: nothing is written past it.
Outcome failTooLarge(GrfArchive& archive) {
    return archive.fail(ruleFailure(RESULT_BAD_LENGTH, Operation::WRITE, Cause::ARCHIVE_TOO_LARGE, archive.path));
}

bool readHeaderBytes(platform::ExclusiveFile& file, std::array<uint8_t, HEADER_SIZE>& bytes) {
    return file.seek(0) && file.read(bytes.data(), bytes.size()) == bytes.size();
}

// The failure of reading or preparing a source, in the archive (and the source archive when it
// was that one's data), and told to the caller as the entry's.
Outcome failEntry(GrfEntry& entry, const SourceData& data, ProgressSink& progress) {
    FailureReason reason = data.reason;
    if (reason.subject.empty()) {
        reason.subject.assign(entry.displayName(false));
        reason.subjectIsEntry = true;
    }
    if (data.sourceFailed && entry.sourceEntry() != nullptr) {
        entry.sourceEntry()->owner()->lastError = reason;
    }
    progress.reportItemFailure(reason);
    return entry.owner()->fail(reason);
}

// Where the save's last write left the file's position: at its end, when this save wrote there
// last. Streams that follow one another at the end then need no seek, and the file's buffer
// takes many small ones in one system call.
struct WriteCursor {
    bool atEnd = false;
    uint64_t end = 0;
};

// Places the stream first fit (or at the end) and writes it. `onWritten` hears of the stream
// bytes written so far.
Outcome placeAndWrite(GrfEntry& entry, FreeList& freeList, const std::vector<uint8_t>& stream, uint32_t inputLength,
                   const std::function<void(uint64_t written)>& onWritten, WriteCursor& cursor) {
    GrfArchive& archive = *entry.owner();
    const uint64_t length = stream.size();
    uint64_t position = 0;
    bool appended = false;
    if (const auto gap = takeFirstFit(freeList, length)) {
        position = *gap;
    } else if (cursor.atEnd) {
        position = cursor.end;
        appended = true;
    } else {
        if (!archive.file.seekEnd()) {
            return failOnFile(archive, Operation::SEEK);
        }
        position = archive.file.tell();
        appended = true;
    }
    cursor.atEnd = false;
    if (position == UINT64_MAX) {
        return failOnFile(archive, Operation::SEEK);
    }
    // Past 4 GiB no position could name the data.
    if (position + length > MAX_POSITION) {
        return failTooLarge(archive);
    }
    if (!appended && !archive.file.seek(position)) {
        return failOnFile(archive, Operation::SEEK);
    }
    for (size_t written = 0; written < length;) {
        const size_t piece = std::min<size_t>(length - written, WRITE_PIECE_BYTES);
        if (!archive.file.write(stream.data() + written, piece)) {
            return failOnFile(archive, Operation::WRITE);
        }
        written += piece;
        if (onWritten) {
            onWritten(written);
        }
    }
    if (appended) {
        cursor = {true, position + length};
    }
    entry.placeData(inputLength, uint32_t(length), position);
    return {};
}

// A pending entry too large to hold whole, read, compressed and written in pieces on the saving
// thread. It goes to the end of the file: its stream's length is known only once it is written,
// too late for first fit. `onInput` hears of the plain bytes taken so far.
Outcome storeStreamed(GrfEntry& entry, int level, const std::function<void(uint64_t taken)>& onInput,
                   uint32_t& inputLength, ProgressSink& progress) {
    GrfArchive& archive = *entry.owner();
    if (!archive.file.seekEnd()) {
        return failOnFile(archive, Operation::SEEK);
    }
    const uint64_t position = archive.file.tell();
    if (position == UINT64_MAX) {
        return failOnFile(archive, Operation::SEEK);
    }
    StreamDeflater deflater(level);
    uint64_t length = 0;
    // Of compressing or writing, as opposed to the source's: the archive's own failure.
    Outcome ownFailure;
    const StreamSink write = [&](std::span<const uint8_t> piece) {
        // Past 4 GiB no position could name the data.
        if (position + length + piece.size() > MAX_POSITION) {
            ownFailure = failTooLarge(archive);
            return false;
        }
        if (!archive.file.write(piece.data(), piece.size())) {
            ownFailure = failOnFile(archive, Operation::WRITE);
            return false;
        }
        length += piece.size();
        return true;
    };
    uint64_t taken = 0;
    const auto compress = [&](std::span<const uint8_t> plain, bool last) {
        taken += plain.size();
        if (!deflater.put(plain, last, write)) {
            if (ownFailure) ownFailure = archive.fail(ruleFailure(RESULT_BAD_DATA, Operation::DEFLATE, Cause::NONE, archive.path));
            return false;
        }
        if (onInput) onInput(taken);
        return true;
    };

    SourceData source;
    if (copiesStoredStream(entry)) {
        const GrfEntry& sourceEntry = *entry.sourceEntry();
        const PlainSink copy = [&](std::span<const uint8_t> piece) { return write(piece) ? 0 : RESULT_BAD_LENGTH; };
        const uint64_t plainLength = sourceEntry.originalSize();
        const bool copied = copyEntryStream(sourceEntry, source.plain, copy, [&](size_t consumed) {
            // The bar counts plain bytes; the stored ones stand for their share of them.
            if (onInput) onInput(plainLength * consumed / std::max<uint32_t>(sourceEntry.compressedSize(), 1));
        });
        if (!ownFailure) {
            return ownFailure;
        }
        if (!copied) {
            source.failFrom(source.plain, true);
            return failEntry(entry, source, progress);
        }
        taken = source.plain.length;
    } else if (!streamSource(entry, source, compress)) {
        if (source.failed()) return failEntry(entry, source, progress);
        return ownFailure;
    }
    inputLength = uint32_t(taken);
    entry.placeData(inputLength, uint32_t(length), position);
    return {};
}

// One pending entry on its way through the pipeline: read by the saving thread (or, for a disk
// file, by the pool thread), then prepared and compressed by a pool thread, then placed and
// written by the saving thread in list order.
struct StoreItem {
    explicit StoreItem(GrfEntry& entry) : entry(entry) {}

    GrfEntry& entry;
    bool readHere = false;
    std::u16string diskPath;
    SourceData data;
    std::vector<uint8_t> stream;
    bool compressed = false;
};

// Data that a compressor of its own has packed already (gzip, zip, xz, bzip2, zstd, 7z, PNG,
// JPEG, GIF, Ogg, MP3), known by its first bytes: deflate finds no matches there and only
// spends time looking, so it goes into stored blocks at once, still a valid zlib stream.
bool isPackedAlready(std::span<const uint8_t> data) {
    static constexpr std::string_view MAGICS[] = {
        {"\x1f\x8b", 2},
        {"PK\x03\x04", 4},
        {"\xfd" "7zXZ\x00", 6},
        {"BZh", 3},
        {"\x28\xb5\x2f\xfd", 4},
        {"7z\xbc\xaf\x27\x1c", 6},
        {"\x89PNG\r\n\x1a\n", 8},
        {"\xff\xd8\xff", 3},
        {"GIF8", 4},
        {"OggS", 4},
        {"ID3", 3},
    };
    const std::string_view head(reinterpret_cast<const char*>(data.data()), std::min<size_t>(data.size(), 8));
    return std::any_of(std::begin(MAGICS), std::end(MAGICS),
                       [&head](std::string_view magic) { return head.starts_with(magic); });
}

// Neighbouring pending entries of the list, compressed as one job: handing a job over and waiting
// for it costs more than compressing a few hundred bytes. A group of one is a large entry, whose
// compressing moves the bar as it goes.
class StoreJob : public PipelineJob {
public:
    StoreJob(int level, const std::atomic<bool>& cancelled) : level(level), cancelled(cancelled) {}

    void run() override {
        for (StoreItem& item : items) {
            if (cancelled) {
                return;
            }
            runItem(item);
        }
    }

    const int level;
    const std::atomic<bool>& cancelled;
    std::vector<StoreItem> items;

private:
    void runItem(StoreItem& item) {
        SourceData& data = item.data;
        // Disk files are opened and read here: with many small files that takes as long as
        // compressing them, and every thread opens a file of its own.
        if (item.readHere && !readSourceFile(item.diskPath, data)) {
            return;
        }
        if (data.streamed) {
            return;
        }
        if (data.copied) {
            const uint8_t* const stored = data.plain.storedBytes();
            item.stream.assign(stored, stored + data.plain.compressedSize);
            item.compressed = prepareInput(data);
            data.plain.output.reset();
            return;
        }
        if (!prepareInput(data)) {
            return;
        }
        // Only the commit reports the whole entry, so the writing still moves the bar.
        const size_t inputLength = data.plain.length;
        const auto onChunk = [this, inputLength](size_t bytes) {
            if (bytes < inputLength) advance(bytes);
        };
        const int levelHere = isPackedAlready(data.input()) ? 0 : level;
        item.compressed = deflateStream(data.input(), levelHere, item.stream,
                                        items.size() == 1 ? std::function<void(size_t)>(onChunk) : nullptr);
        data.plain.output.reset();
    }
};

// Pending entries are grouped while each would hold less than this, up to these many at once.
constexpr uint64_t GROUP_ENTRY_BYTES = 64 << 10;
constexpr size_t GROUP_MAX_ENTRIES = 64;
constexpr uint64_t GROUP_MAX_BYTES = 256 << 10;
// Entries read ahead at most, whatever the byte budget allows: a few thousand small ones keep
// the pool busy and reuse the memory the written ones gave back; all of them at once would not.
constexpr size_t MAX_ENTRIES_AHEAD = 4096;

// The bytes the entries read ahead may hold together (more when a single entry is larger):
// enough to keep every core busy while the saving thread reads and writes, without ever holding
// the whole archive.
constexpr uint64_t AHEAD_BYTES = 96ull << 20;

// The records of every entry that is not deleted, stored ones first in the order the save sorted
// them, then the pending ones, written as the file's new table.
Outcome writeTable(GrfArchive& archive, int level) {
    std::vector<uint8_t> records;
    uint32_t recordCount = 0;
    records.reserve((archive.storedEntries().size() + archive.pendingEntries().size()) * (MAX_NAME_LENGTH + 18));
    for (const auto* list : {&archive.storedEntries(), &archive.pendingEntries()}) {
        for (const auto& entry : *list) {
            if (entry->state() == ENTRY_DELETED) continue;
            if (!appendRecord(records, entry->record())) return failTooLarge(archive);
            ++recordCount;
        }
    }
    if (Outcome written = writeFileTable(archive.file, archive.path, records, recordCount, level); !written) {
        return archive.fail(std::move(written).takeReason());
    }
    return {};
}

// The save's work up to the new header: every pending entry stored, then the table.
Outcome writeEntriesAndTable(GrfArchive& archive, int level, bool useKoreanNames, ProgressSink& progress,
                             unsigned threads, FreeList& freeList) {
    const GrfArchive::EntryList& addedEntries = archive.pendingEntries();
    // Compressed sizes do not depend on timing, so compressing ahead and placing in list order
    // with the same first fit writes the same file with any number of threads.
    std::atomic<bool> cancelled{false};
    // After `cancelled`: the pipeline ends (and runs what is queued) before it goes.
    OrderedPipeline pipeline(threads, AHEAD_BYTES);
    size_t nextIndex = 0;
    WriteCursor cursor;
    // Neighbouring entries of another archive come from one read of its file. Not for entries
    // of this archive, whose file the save writes meanwhile; reading those may move the file's
    // position, so the next write looks for the end again.
    std::unique_ptr<StoredReadAhead> ahead;
    const auto readAheadFor = [&](const GrfEntry& entry) -> StoredReadAhead* {
        if (entry.source() != SOURCE_OTHER_ENTRY || entry.sourceEntry() == nullptr) return nullptr;
        GrfArchive* sourceArchive = entry.sourceEntry()->owner();
        if (sourceArchive == &archive) cursor.atEnd = false;
        if (sourceArchive == nullptr || sourceArchive == &archive) return nullptr;
        if (!ahead || &ahead->owner() != sourceArchive) ahead = std::make_unique<StoredReadAhead>(*sourceArchive);
        return ahead.get();
    };
    // What a pending entry will hold while it waits: nothing when it goes in pieces.
    const auto expectedBytes = [](const GrfEntry& entry) -> uint64_t {
        const bool streamed = isStreamedSource(entry);
        return streamed ? 0 : uint64_t(entry.originalSize()) * 2;
    };
    // A pending entry the user removed takes no space and needs no source.
    const auto skipDeleted = [&] {
        while (nextIndex < addedEntries.size() && addedEntries[nextIndex]->state() == ENTRY_DELETED) ++nextIndex;
    };
    size_t entriesAhead = 0;
    const auto readAhead = [&] {
        for (skipDeleted(); nextIndex < addedEntries.size() && entriesAhead < MAX_ENTRIES_AHEAD; skipDeleted()) {
            const uint64_t expected = expectedBytes(*addedEntries[nextIndex]);
            if (!pipeline.hasRoom(expected)) {
                break;
            }
            auto job = std::make_unique<StoreJob>(level, cancelled);
            const bool grouped = expected > 0 && expected < GROUP_ENTRY_BYTES;
            job->items.reserve(grouped ? GROUP_MAX_ENTRIES : 1);
            for (;;) {
                GrfEntry& entry = *addedEntries[nextIndex];
                ++nextIndex;
                StoreItem& item = job->items.emplace_back(entry);
                const uint64_t expectedHere = expectedBytes(entry);
                if (entry.source() == SOURCE_DISK_FILE && entry.holdsFileBytes()) {
                    item.data.plain.output = entry.takeFileBytes();
                    item.data.plain.length = entry.originalSize();
                } else if (entry.source() == SOURCE_DISK_FILE) {
                    item.readHere = true;
                    item.diskPath = entry.sourcePath();
                } else {
                    // Another archive's file is shared by all its entries: read on this thread only.
                    readSource(entry, item.data, readAheadFor(entry));
                }
                // The stored bytes, the plain ones and the stream, which is about as long at most.
                const uint64_t plain = std::max<uint64_t>(item.data.plain.capacity, item.data.plain.length);
                job->footprint +=
                    item.data.streamed ? 0 : std::max(expectedHere, item.data.plain.storedSize + 2 * plain);
                skipDeleted();
                if (!grouped || item.data.streamed || nextIndex == addedEntries.size() ||
                    job->items.size() == GROUP_MAX_ENTRIES || job->footprint >= GROUP_MAX_BYTES) {
                    break;
                }
                const uint64_t next = expectedBytes(*addedEntries[nextIndex]);
                if (next == 0 || next >= GROUP_ENTRY_BYTES) {
                    break;
                }
            }
            entriesAhead += job->items.size();
            pipeline.add(std::move(job));
        }
    };
    const auto stop = [&cancelled](Outcome failure) {
        cancelled = true;
        return failure;
    };

    readAhead();
    while (!pipeline.empty()) {
        reportEntryStatus(progress, static_cast<StoreJob&>(pipeline.front()).items.front().entry, useKoreanNames);
        // Progress while the pool compresses; a codec that streams moves the bar chunk by chunk.
        uint64_t reported = 0;
        const auto done = pipeline.takeAs<StoreJob>([&](uint64_t consumed) {
            reported = consumed;
            progress.reportProgress(uint32_t(consumed), false);
        });
        // A job that threw failed for that reason, whatever its data say.
        if (done->thrown != Cause::NONE) {
            progress.reportProgress(0, true);
            return stop(archive.fail(ruleFailure(RESULT_BAD_DATA, Operation::DEFLATE, done->thrown, archive.path)));
        }
        // Keep the pool busy while this thread writes.
        entriesAhead -= done->items.size();
        readAhead();
        for (size_t i = 0; i < done->items.size(); ++i) {
            StoreItem& item = done->items[i];
            if (i > 0) {
                reportEntryStatus(progress, item.entry, useKoreanNames);
                reported = 0;
            }
            if (item.data.failed()) {
                return stop(failEntry(item.entry, item.data, progress));
            }
            if (item.data.streamed) {
                uint32_t inputLength = 0;
                const uint32_t expected = item.entry.originalSize();
                cursor.atEnd = false;
                Outcome stored = storeStreamed(item.entry, level, [&](uint64_t taken) {
                    if (taken > reported && taken < expected) {
                        reported = taken;
                        progress.reportProgress(uint32_t(taken), false);
                    }
                }, inputLength, progress);
                progress.reportProgress(stored ? inputLength : uint32_t(reported), true);
                if (!stored) {
                    return stop(stored);
                }
                continue;
            }
            const uint32_t inputLength = item.data.plain.length;
            if (!item.compressed) {
                progress.reportProgress(0, true);
                return stop(archive.fail(ruleFailure(RESULT_BAD_DATA, Operation::DEFLATE, Cause::NONE, archive.path)));
            }
            if (item.stream.size() > MAX_POSITION) {
                progress.reportProgress(inputLength, true);
                return stop(failTooLarge(archive));
            }
            const auto onWritten = writeShare(inputLength, item.stream.size(), progress, reported);
            if (Outcome placed = placeAndWrite(item.entry, freeList, item.stream, inputLength, onWritten, cursor);
                !placed) {
                progress.reportProgress(inputLength, true);
                return stop(placed);
            }
            std::vector<uint8_t>().swap(item.stream);
            progress.reportProgress(inputLength, true);
        }
    }
    return writeTable(archive, level);
}

}  // namespace

Outcome saveArchive(GrfArchive& archive, int level, bool useKoreanNames, ProgressSink& progress, unsigned threads) {
    platform::ExclusiveFile& file = archive.file;
    // What interrupted saves and repacks of this archive left behind, unless a running program holds it.
    removeStaleStagingFiles(archive.path, archive.stagingPath());
    archive.sortStoredByPosition();
    FreeList freeList;
    if (Outcome built = buildFreeList(archive, freeList); !built) {
        return built;
    }
    // What a failed save wrote beyond the old end names nothing: it goes, and a full disk gets
    // its space back. Only while the header is the old one, since a header that may name the
    // new table needs what follows it.
    const uint64_t previousEnd = file.size();
    std::array<uint8_t, HEADER_SIZE> previousHeader{};
    if (!readHeaderBytes(file, previousHeader)) {
        return failOnFile(archive, Operation::READ);
    }
    if (Outcome written = writeEntriesAndTable(archive, level, useKoreanNames, progress, threads, freeList); !written) {
        std::array<uint8_t, HEADER_SIZE> header{};
        if (previousEnd != UINT64_MAX && file.size() > previousEnd && readHeaderBytes(file, header) &&
            header == previousHeader && !file.truncate(previousEnd)) {
            // The save's own failure comes first; the space it could not give back is said beside it.
            progress.reportItemFailure(systemFailure(RESULT_BAD_LENGTH, Operation::WRITE, file.lastSystemError(), archive.path));
        }
        return written;
    }
    return archive.commitStaged();
}

