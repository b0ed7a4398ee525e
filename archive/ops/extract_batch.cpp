#include "archive/ops/extract_batch.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_set>

#include "archive/model/archive.h"
#include "archive/format/entry_name.h"
#include "archive/ops/entry_data.h"
#include "archive/ops/extract.h"
#include "archive/ops/extract_sink.h"
#include "archive/ops/ordered_pipeline.h"
#include "archive/base/progress_sink.h"
#include "archive/base/result_codes.h"

namespace {

// Files up to this size are created and written by the pool thread that inflated them: with many
// small files the extraction is bound by file creation, which then runs on every core. Larger
// ones are written by the extracting thread in pieces, so that the bar moves while they go to disk.
constexpr uint32_t POOL_WRITE_MAX_BYTES = 1 << 20;
// The bytes the entries read ahead may hold together (more when a single entry is larger).
constexpr uint64_t AHEAD_BYTES = 96ull << 20;

// Small entries go to the pool together, up to this many or these many bytes: a job handed over
// and waited for costs more than inflating a few hundred bytes.
constexpr size_t GROUP_MAX_ENTRIES = 64;
constexpr uint64_t GROUP_MAX_BYTES = 256 << 10;
// Entries read ahead at most, whatever the byte budget allows: every one holds two buffers, and
// a hundred thousand small ones held at once cost fresh memory (a page fault each few entries)
// where a few thousand reuse what the finished ones gave back.
constexpr size_t MAX_ENTRIES_AHEAD = 4096;

// Whether `entry` is small enough to share a job with its neighbours.
bool isGroupable(const GrfEntry& entry) {
    return uint64_t(entry.storedSize()) + entry.originalSize() < GROUP_MAX_BYTES / 4;
}

// The stored bytes of the entries a group from `from` on would take, as far as their records
// tell.
uint64_t groupStoredBytes(const std::vector<GrfEntry*>& selection, size_t from) {
    uint64_t stored = 0;
    uint64_t footprint = 0;
    for (size_t i = from; i < selection.size() && i - from < GROUP_MAX_ENTRIES && footprint < GROUP_MAX_BYTES; ++i) {
        const GrfEntry& entry = *selection[i];
        if (!isGroupable(entry)) break;
        stored += entry.storedSize();
        footprint += uint64_t(entry.storedSize()) + entry.originalSize();
    }
    return stored;
}

// One entry: read by the extracting thread, inflated (and, when small, written) by a pool thread,
// its outcome taken up by the extracting thread in list order.
struct InflateItem {
    explicit InflateItem(GrfEntry& entry) : entry(entry) {}

    GrfEntry& entry;
    std::optional<std::u16string> path;  // nullopt when the name is refused, or in a check
    std::u16string pathKey;              // the path as a case-blind file system sees it
    EntryData data;
    // False when there is nothing to inflate: the failure was found while it was read.
    bool runnable = false;
    // False when an entry still ahead of this one goes to the same file: then the extracting
    // thread writes it in its turn, so that the later entry wins as it does one at a time.
    bool writeHere = false;
    // Too large to hold whole: the extracting thread reads, inflates and writes it in its turn.
    bool streamed = false;
    bool inflated = false;
    bool written = false;
    FailureReason writeResult;
};

// Neighbouring entries of the list, run as one job. A group of one is a large entry, whose
// inflating moves the bar as it goes.
class InflateJob : public PipelineJob {
public:
    void run() override {
        for (InflateItem& item : items) {
            if (item.runnable) runItem(item);
        }
    }

    DirectoryMaker* directories = nullptr;
    bool check = false;
    std::vector<InflateItem> items;
    // The small entries' stored bytes, one after another: one allocation for the group, made
    // and freed by the extracting thread.
    std::unique_ptr<uint8_t[]> storedBlock;
    uint64_t storedRoom = 0;
    uint64_t storedUsed = 0;

private:
    void runItem(InflateItem& item) {
        EntryData& data = item.data;
        // Only the commit reports the whole entry.
        const auto onChunk = [this, &data](size_t bytes) {
            if (bytes < data.compressedSize) advance(bytes);
        };
        item.inflated = inflateInBuffer(data, items.size() == 1 ? std::function<void(size_t)>(onChunk) : nullptr);
        // A check keeps nothing, nor does an entry that failed or is written here.
        if (check || !item.inflated) {
            takeBackBuffer(data);
            return;
        }
        if (item.path && item.writeHere && data.length <= POOL_WRITE_MAX_BYTES) {
            FailureReason made = directories->createParentsOf(*item.path);
            FileSink file(*item.path);
            item.writeResult = made.failed() ? std::move(made) : writeEntryData(data, file, {});
            item.written = true;
            takeBackBuffer(data);
            return;
        }
        // The extracting thread writes it in its turn: the buffer goes with the entry.
        bufferBytes = 0;
    }

    // The group's entries take turns in one buffer, lent to each while it is inflated and
    // written: allocating and freeing one for each of many small entries costs more than
    // inflating them, and a buffer used again is memory the system has mapped already.
    bool inflateInBuffer(EntryData& data, const std::function<void(size_t)>& onChunk) {
        const uint64_t room = data.capacity;
        if (room > bufferBytes || !buffer) {
            buffer.reset();
            bufferBytes = 0;
            if (!reserveOutput(room, data)) return false;
            bufferBytes = room;
        } else {
            data.output = std::move(buffer);
        }
        return inflateEntryData(data, onChunk);
    }

    void takeBackBuffer(EntryData& data) { buffer = std::move(data.output); }

    std::unique_ptr<uint8_t[]> buffer;
    uint64_t bufferBytes = 0;
};

// Windows folds the case of names; folding ASCII here is enough to keep two entries that differ
// only so from being written at once (entries differing in other letters' case are rarer still,
// and then merely race for the same file as two separate extractions would).
std::u16string pathKeyOf(const std::u16string& path) {
    std::u16string key = path;
    for (char16_t& c : key) c = asciiUpper(c);
    return key;
}

}  // namespace

namespace {

// Extraction into `targetDir`, into the one `sink`, or a check without either: the same reading,
// inflating and results.
void runBatch(const std::vector<GrfEntry*>& selection, const std::u16string* targetDir, bool keepDirs,
              bool useKoreanNames, ProgressSink& progress, unsigned threads, ExtractSink* sink) {
    const bool check = targetDir == nullptr && sink == nullptr;
    DirectoryMaker directories;
    // Neighbouring small entries come from one read of the archive's file.
    std::unique_ptr<StoredReadAhead> ahead;
    // After the directories: the pipeline ends (and runs what is queued) before they go.
    OrderedPipeline pipeline(threads, AHEAD_BYTES);
    size_t nextIndex = 0;
    // Target paths of the entries ahead, until each is written.
    std::unordered_multiset<std::u16string> pathsAhead;
    // The entry's item, read; its bytes held while it waits, or 0.
    const auto readItem = [&](InflateJob& job, InflateItem& item) -> uint64_t {
        GrfEntry& entry = item.entry;
        if (entry.state() != ENTRY_STORED) return 0;
        if (targetDir != nullptr) {
            item.path = entryTargetPath(entry, *targetDir, keepDirs, useKoreanNames);
            if (item.path) {
                item.pathKey = pathKeyOf(*item.path);
                item.writeHere = pathsAhead.count(item.pathKey) == 0;
                pathsAhead.insert(item.pathKey);
            }
        }
        if (!item.path && targetDir != nullptr) return 0;
        if (isStreamedEntry(entry)) {
            item.streamed = checkStreamedEntry(entry, item.data);
            return 0;
        }
        if (!ahead || &ahead->owner() != entry.owner()) ahead = std::make_unique<StoredReadAhead>(*entry.owner());
        // The room is measured here and made where the entry is inflated. An entry the block has
        // no room for (the records said less than the group came to take) gets a buffer of its own.
        uint8_t* into = nullptr;
        if (job.storedBlock && job.storedRoom - job.storedUsed >= entry.storedSize()) {
            into = job.storedBlock.get() + job.storedUsed;
            job.storedUsed += entry.storedSize();
        }
        if (!readEntryStream(entry, item.data, ahead.get(), into)) return 0;
        item.runnable = true;
        return item.data.storedSize + item.data.capacity;
    };
    size_t entriesAhead = 0;
    const auto readAhead = [&] {
        while (nextIndex < selection.size() && entriesAhead < MAX_ENTRIES_AHEAD) {
            const GrfEntry& first = *selection[nextIndex];
            const uint64_t expected = isStreamedEntry(first) ? 0 : uint64_t(first.storedSize()) + first.originalSize();
            if (!pipeline.hasRoom(expected)) break;
            auto job = std::make_unique<InflateJob>();
            job->directories = &directories;
            job->check = check;
            job->runnable = false;
            // A large entry goes alone, small ones together.
            const bool grouped = isGroupable(first);
            job->items.reserve(grouped ? GROUP_MAX_ENTRIES : 1);
            if (grouped) {
                // Without the block each entry reads into a buffer of its own.
                job->storedRoom = groupStoredBytes(selection, nextIndex);
                job->storedBlock.reset(new (std::nothrow) uint8_t[std::max<uint64_t>(job->storedRoom, 1)]);
            }
            do {
                InflateItem& item = job->items.emplace_back(*selection[nextIndex]);
                ++nextIndex;
                job->footprint += readItem(*job, item);
                job->runnable = job->runnable || item.runnable;
            } while (grouped && nextIndex < selection.size() && job->items.size() < GROUP_MAX_ENTRIES &&
                     job->footprint < GROUP_MAX_BYTES && isGroupable(*selection[nextIndex]));
            entriesAhead += job->items.size();
            pipeline.add(std::move(job));
        }
    };

    // Each failure is the entry's own: left in lastError, and told to the caller by the entry's
    // name. A sink the caller named keeps the name of the file written in its failures.
    const auto fail = [&](GrfEntry& entry, FailureReason reason) {
        if (sink == nullptr || reason.subject.empty()) reason = entryFailure(entry, std::move(reason), useKoreanNames);
        progress.reportItemFailure(reason);
        entry.owner()->lastError = std::move(reason);
    };
    const auto failData = [&](GrfEntry& entry, const EntryData& data) {
        fail(entry, entryFailure(entry, data, useKoreanNames));
    };

    // The outcome of one entry, in its turn; `reported` is what the bar was told of it so far.
    const auto finishItem = [&](InflateItem& item, uint64_t reported) {
        GrfEntry& entry = item.entry;
        // Each failure is the entry's own, recorded when its turn comes, in list order.
        // A row marked deleted (or not saved yet) has no data to give: said so, and its share of
        // the bar still counts.
        if (entry.state() != ENTRY_STORED) {
            progress.reportProgress(entry.compressedSize(), true);
            const Cause cause = entry.state() == ENTRY_DELETED ? Cause::ENTRY_DELETED : Cause::ENTRY_NOT_SAVED;
            fail(entry, ruleFailure(RESULT_OPEN_FAILED, Operation::EXTRACT, cause, {}));
            return;
        }
        if (!item.path && targetDir != nullptr) {
            fail(entry, refusedTarget(entry, useKoreanNames));
            return;
        }
        if (item.streamed) {
            std::optional<FileSink> file;
            if (item.path) {
                file.emplace(*item.path);
                if (FailureReason made = directories.createParentsOf(*item.path); made.failed()) {
                    progress.reportProgress(uint32_t(reported), true);
                    fail(entry, std::move(made));
                    return;
                }
            }
            const bool extracted =
                extractStreamed(entry, file ? &*file : sink, item.data, [&](size_t consumed) {
                    if (consumed <= reported || consumed >= entry.compressedSize()) return;
                    reported = consumed;
                    progress.reportProgress(uint32_t(consumed), false);
                });
            progress.reportProgress(uint32_t(extracted ? entry.compressedSize() : reported), true);
            if (!extracted) {
                failData(entry, item.data);
                return;
            }
            entry.setOriginalSize(item.data.length);
            return;
        }
        if (!item.runnable) {
            failData(entry, item.data);
            return;
        }
        if (!item.inflated) {
            progress.reportProgress(uint32_t(reported), true);
            if (!item.data.failed()) item.data.fail(RESULT_BAD_DATA);
            failData(entry, item.data);
            return;
        }
        // The entry's size becomes what the stream really held.
        entry.setOriginalSize(item.data.length);
        FailureReason written = std::move(item.writeResult);
        if (item.path && !item.written) {
            FailureReason made = directories.createParentsOf(*item.path);
            FileSink file(*item.path);
            written = made.failed() ? std::move(made)
                                    : writeEntryData(item.data, file,
                                                     writeShare(item.data.compressedSize, item.data.length, progress, reported));
        } else if (sink != nullptr) {
            written = writeEntryData(item.data, *sink,
                                     writeShare(item.data.compressedSize, item.data.length, progress, reported));
        }
        progress.reportProgress(item.data.compressedSize, true);
        if (written.failed()) {
            fail(entry, std::move(written));
        }
    };

    readAhead();
    while (!pipeline.empty()) {
        reportEntryStatus(progress, static_cast<InflateJob&>(pipeline.front()).items.front().entry, useKoreanNames);
        uint64_t reported = 0;
        const auto done = pipeline.takeAs<InflateJob>([&](uint64_t consumed) {
            reported = consumed;
            progress.reportProgress(uint32_t(consumed), false);
        });
        // Keep the pool busy while this thread writes; each entry's path stays taken until then.
        entriesAhead -= done->items.size();
        readAhead();
        for (size_t i = 0; i < done->items.size(); ++i) {
            InflateItem& item = done->items[i];
            if (i > 0) {
                reportEntryStatus(progress, item.entry, useKoreanNames);
                reported = 0;
            }
            // A job that threw failed for that reason, not for its data: every entry it had not
            // finished.
            if (done->thrown != Cause::NONE && item.runnable && !item.inflated && !item.data.failed()) {
                item.data.fail(ruleFailure(RESULT_BAD_DATA, Operation::INFLATE, done->thrown, {}));
            }
            finishItem(item, reported);
            if (item.path) pathsAhead.erase(pathsAhead.find(item.pathKey));
        }
    }
}

}  // namespace

void extractEntries(const std::vector<GrfEntry*>& selection, const std::u16string& targetDir, bool keepDirs,
                    bool useKoreanNames, ProgressSink& progress, unsigned threads) {
    runBatch(selection, &targetDir, keepDirs, useKoreanNames, progress, threads, nullptr);
}

void checkEntries(const std::vector<GrfEntry*>& selection, bool useKoreanNames, ProgressSink& progress,
                  unsigned threads) {
    runBatch(selection, nullptr, false, useKoreanNames, progress, threads, nullptr);
}

namespace {

// A lone entry's progress: the caller's status stays (it names where the data go), and the
// entry's failure becomes the answer instead of an item of a list.
class OneEntryProgress final : public ProgressSink {
public:
    explicit OneEntryProgress(ProgressSink& outer) : outer(outer) {}
    void reportStatus(const char16_t*) override {}
    void reportProgress(uint32_t bytes, bool commit) override { outer.reportProgress(bytes, commit); }
    void reportItemFailure(const FailureReason& reason) override { failure = reason; }

    ProgressSink& outer;
    FailureReason failure;
};

}  // namespace

Outcome extractEntry(GrfEntry& entry, ExtractSink& sink, ProgressSink& progress) {
    OneEntryProgress one(progress);
    runBatch({&entry}, nullptr, false, false, one, 0, &sink);
    if (one.failure.failed()) return Outcome(std::move(one.failure));
    return {};
}

Outcome extractEntry(GrfEntry& entry, const std::u16string& path, ProgressSink& progress) {
    FileSink file(path);
    return extractEntry(entry, file, progress);
}
