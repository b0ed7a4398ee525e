#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "archive/add.h"
#include "archive/archive.h"
#include "archive/extract.h"
#include "archive/extract_batch.h"
#include "archive/repack.h"
#include "archive/work_pool.h"
#include "worker/task_worker.h"

namespace {

// Every procedure reads its record from the task the loop is running.
template <typename Args>
Args& recordOf(TaskWorker& worker) {
    return static_cast<Args&>(*worker.currentArgs);
}

void announceTotal(TaskWorker& worker, uint64_t total) {
    worker.progressDone = 0;
    worker.progressTotal = total;
    worker.sendTotal();
}

void extractOne(TaskWorker& worker) {
    worker.sendStarted(TASK_EXTRACT_ONE);
    auto& args = recordOf<ExtractOneArgs>(worker);
    GrfEntry& entry = *args.entry;
    // The status is where the data go, not the entry's name.
    worker.reportStatus(args.targetPath.c_str());
    announceTotal(worker, entry.compressedSize);
    const bool extracted = entry.extractTo(args.targetPath, worker);
    finishTask(worker, TASK_EXTRACT_ONE, extracted ? 0 : entry.owner()->lastError);
}

// A failed entry neither stops the others nor changes the result.
void extractEach(TaskWorker& worker, const std::vector<GrfEntry*>& selection, const std::u16string& targetDir,
                 bool keepDirs, bool useKoreanNames) {
    uint64_t total = 0;
    for (const GrfEntry* entry : selection) {
        total += entry->compressedSize;
    }
    announceTotal(worker, total);
    // Inflated on one thread per core, written here in list order.
    extractEntries(selection, targetDir, keepDirs, useKoreanNames, worker, WorkPool::defaultThreads());
}

void extractSelected(TaskWorker& worker) {
    worker.sendStarted(TASK_EXTRACT_SELECTED);
    auto& args = recordOf<ExtractListArgs>(worker);
    extractEach(worker, args.selection, args.targetDir, args.keepDirs != 0, args.useKoreanNames != 0);
    finishTask(worker, TASK_EXTRACT_SELECTED, 0);
}

void extractAll(TaskWorker& worker) {
    worker.sendStarted(TASK_EXTRACT_ALL);
    auto& args = recordOf<ExtractAllArgs>(worker);
    // Deleted entries count in the total too; extraction skips them.
    std::vector<GrfEntry*> everything;
    everything.reserve(args.archive->storedEntries().size());
    for (const auto& entry : args.archive->storedEntries()) {
        everything.push_back(entry.get());
    }
    extractEach(worker, everything, args.targetDir, args.keepDirs != 0, args.useKoreanNames != 0);
    finishTask(worker, TASK_EXTRACT_ALL, 0);
}

void addDirectory(TaskWorker& worker) {
    worker.sendStarted(TASK_ADD_DIRECTORY);
    auto& args = recordOf<AddDirectoryArgs>(worker);
    // The units cut from every full path: the directory and the backslash after it, so that
    // "C:\src" and "C:\src\" name the same entries.
    const std::u16string& directory = args.directory;
    const size_t prefixLength = directory.size() + (!directory.empty() && directory.back() == u'\\' ? 0 : 1);
    worker.addDirectoryTree(args, prefixLength, directory);
    finishTask(worker, TASK_ADD_DIRECTORY, 0);
}

void addArchive(TaskWorker& worker) {
    worker.sendStarted(TASK_ADD_ARCHIVE);
    auto& args = recordOf<AddArchiveArgs>(worker);
    const int result = mergeArchive(*args.archive, args.otherPath, worker);
    finishTask(worker, TASK_ADD_ARCHIVE, result);
}

void saveArchive(TaskWorker& worker) {
    worker.sendStarted(TASK_SAVE);
    auto& args = recordOf<SaveArgs>(worker);
    GrfArchive& archive = *args.archive;
    // Only what the save will write: a pending entry marked deleted is skipped, and counting it
    // would leave the bar short of its end.
    uint64_t total = 0;
    for (const auto& entry : archive.pendingEntries()) {
        if (entry->state() != ENTRY_DELETED) {
            total += entry->originalSize;
        }
    }
    announceTotal(worker, total);
    const bool saved = archive.save(args.level, args.useKoreanNames != 0, worker);
    finishTask(worker, TASK_SAVE, saved ? 0 : archive.lastError);
}

void recompress(TaskWorker& worker) {
    worker.sendStarted(TASK_RECOMPRESS);
    auto& args = recordOf<RecompressArgs>(worker);
    RecompressResult result = recompressArchive(std::move(args.archive), args.level, args.useKoreanNames != 0, worker,
                                                      [&worker](uint64_t total) { announceTotal(worker, total); });
    args.resultArchive = std::move(result.archive);
    args.reopenError = result.reopenError;
    args.reason = result.reason;
    // finishTask puts the result into the record's `error` and hands the record to the window.
    finishTask(worker, TASK_RECOMPRESS, result.error);
}

}  // namespace

// Here, where GrfArchive is complete for the owning pointers.
RecompressArgs::RecompressArgs() = default;
RecompressArgs::~RecompressArgs() = default;

void installTaskProcedures(TaskWorker& worker) {
    worker.procedures[TASK_EXTRACT_ONE] = extractOne;
    worker.procedures[TASK_EXTRACT_SELECTED] = extractSelected;
    worker.procedures[TASK_EXTRACT_ALL] = extractAll;
    worker.procedures[TASK_ADD_DIRECTORY] = addDirectory;
    worker.procedures[TASK_ADD_ARCHIVE] = addArchive;
    worker.procedures[TASK_SAVE] = saveArchive;
    worker.procedures[TASK_RECOMPRESS] = recompress;
}
