#include "archive/ops/extract_batch.h"

#include <algorithm>
#include <memory>
#include <mutex>
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

// One entry of the batch: read by the extracting thread, inflated (and, when small, written) by a
// pool thread, its outcome taken up by the extracting thread in list order.
class InflateJob : public PipelineJob {
public:
    explicit InflateJob(GrfEntry& entry) : entry(entry) {}

    void run() override {
        // Only the commit reports the whole entry.
        inflated = inflateEntryData(data, [this](size_t bytes) {
            if (bytes < data.compressedSize) advance(bytes);
        });
        if (!path && !toSink) {
            // A check keeps nothing.
            data.output.reset();
        } else if (path && inflated && writeHere && data.length <= POOL_WRITE_MAX_BYTES) {
            FailureReason made = directories->createParentsOf(*path);
            FileSink file(*path);
            writeResult = made.failed() ? std::move(made) : writeEntryData(data, file, {});
            written = true;
            data.output.reset();
        }
    }

    GrfEntry& entry;
    DirectoryMaker* directories = nullptr;
    std::optional<std::u16string> path;  // nullopt when the name is refused, or in a check
    bool toSink = false;                 // the batch's one sink takes the bytes instead
    std::u16string pathKey;              // the path as a case-blind file system sees it
    EntryData data;
    // False when an entry still ahead of this one goes to the same file: then the extracting
    // thread writes it in its turn, so that the later entry wins as it does one at a time.
    bool writeHere = false;
    // Too large to hold whole: the extracting thread reads, inflates and writes it in its turn.
    bool streamed = false;
    bool inflated = false;
    bool written = false;
    FailureReason writeResult;
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
    DirectoryMaker directories;
    // After the directories: the pipeline ends (and runs what is queued) before they go.
    OrderedPipeline pipeline(threads, AHEAD_BYTES);
    size_t nextIndex = 0;
    // Target paths of the entries ahead, until each is written.
    std::unordered_multiset<std::u16string> pathsAhead;
    const auto readAhead = [&] {
        while (nextIndex < selection.size()) {
            GrfEntry& entry = *selection[nextIndex];
            const uint64_t expected = isStreamedEntry(entry) ? 0 : uint64_t(entry.storedSize()) + entry.originalSize();
            if (!pipeline.hasRoom(expected)) break;
            ++nextIndex;
            auto job = std::make_unique<InflateJob>(entry);
            job->directories = &directories;
            job->runnable = false;
            if (entry.state() == ENTRY_STORED) {
                job->toSink = sink != nullptr;
                if (targetDir != nullptr) {
                    job->path = entryTargetPath(entry, *targetDir, keepDirs, useKoreanNames);
                    if (job->path) {
                        job->pathKey = pathKeyOf(*job->path);
                        job->writeHere = pathsAhead.count(job->pathKey) == 0;
                        pathsAhead.insert(job->pathKey);
                    }
                }
                const bool placed = job->path || targetDir == nullptr;
                if (placed && isStreamedEntry(entry)) {
                    job->streamed = checkStreamedEntry(entry, job->data);
                } else if (placed && readEntryData(entry, job->data)) {
                    job->footprint = job->data.storedSize + job->data.capacity;
                    job->runnable = true;
                }
            }
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

    readAhead();
    while (!pipeline.empty()) {
        GrfEntry& entry = static_cast<InflateJob&>(pipeline.front()).entry;
        progress.reportStatus(entry.displayName(useKoreanNames).c_str());
        uint64_t reported = 0;
        const auto done = pipeline.takeAs<InflateJob>([&](uint64_t consumed) {
            reported = consumed;
            progress.reportProgress(uint32_t(consumed), false);
        });
        // Keep the pool busy while this thread writes; the entry's path stays taken until then.
        readAhead();
        struct PathRelease {
            std::unordered_multiset<std::u16string>& paths;
            const InflateJob& job;
            ~PathRelease() {
                if (job.path) paths.erase(paths.find(job.pathKey));
            }
        } release{pathsAhead, *done};

        // Each failure is the entry's own, recorded when its turn comes, in list order.
        // A row marked deleted (or not saved yet) has no data to give: said so, and its share of
        // the bar still counts.
        if (entry.state() != ENTRY_STORED) {
            progress.reportProgress(entry.compressedSize(), true);
            const Cause cause = entry.state() == ENTRY_DELETED ? Cause::ENTRY_DELETED : Cause::ENTRY_NOT_SAVED;
            fail(entry, ruleFailure(RESULT_OPEN_FAILED, Operation::EXTRACT, cause, {}));
            continue;
        }
        if (!done->path && targetDir != nullptr) {
            fail(entry, refusedTarget(entry, useKoreanNames));
            continue;
        }
        if (done->streamed) {
            std::optional<FileSink> file;
            if (done->path) {
                file.emplace(*done->path);
                if (FailureReason made = directories.createParentsOf(*done->path); made.failed()) {
                    progress.reportProgress(uint32_t(reported), true);
                    fail(entry, std::move(made));
                    continue;
                }
            }
            const bool extracted =
                extractStreamed(entry, file ? &*file : sink, done->data, [&](size_t consumed) {
                    if (consumed <= reported || consumed >= entry.compressedSize()) return;
                    reported = consumed;
                    progress.reportProgress(uint32_t(consumed), false);
                });
            progress.reportProgress(uint32_t(extracted ? entry.compressedSize() : reported), true);
            if (!extracted) {
                failData(entry, done->data);
                continue;
            }
            entry.setOriginalSize(done->data.length);
            continue;
        }
        if (!done->runnable) {
            failData(entry, done->data);
            continue;
        }
        if (!done->inflated) {
            progress.reportProgress(uint32_t(reported), true);
            // A job that threw failed for that reason, not for its data.
            if (done->thrown != Cause::NONE) {
                done->data.fail(ruleFailure(RESULT_BAD_DATA, Operation::INFLATE, done->thrown, {}));
            } else if (!done->data.failed()) {
                done->data.fail(RESULT_BAD_DATA);
            }
            failData(entry, done->data);
            continue;
        }
        // The entry's size becomes what the stream really held.
        entry.setOriginalSize(done->data.length);
        FailureReason written = std::move(done->writeResult);
        if (done->path && !done->written) {
            FailureReason made = directories.createParentsOf(*done->path);
            FileSink file(*done->path);
            written = made.failed() ? std::move(made)
                                    : writeEntryData(done->data, file,
                                                     writeShare(done->data.compressedSize, done->data.length, progress, reported));
        } else if (sink != nullptr) {
            written = writeEntryData(done->data, *sink,
                                     writeShare(done->data.compressedSize, done->data.length, progress, reported));
        }
        progress.reportProgress(done->data.compressedSize, true);
        if (written.failed()) {
            fail(entry, std::move(written));
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
