#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "archive/ops/save.h"
#include "archive/ops/merge.h"
#include "archive/model/archive.h"
#include "archive/ops/extract.h"
#include "archive/ops/extract_batch.h"
#include "archive/ops/extract_sink.h"
#include "archive/ops/repack.h"
#include "archive/ops/work_pool.h"
#include "worker/add_directory.h"
#include "worker/task_run.h"
#include "worker/task_codes.h"

namespace {

Outcome extractOne(TaskArgs& record, TaskRun& run) {
    auto& args = static_cast<ExtractOneArgs&>(record);
    GrfEntry& entry = *args.entry;
    // The status is where the data go, not the entry's name.
    run.reportStatus(args.targetPath.c_str());
    run.announceTotal(entry.compressedSize());
    // A batch of one, into the file the user named or the caller's sink.
    if (args.sink != nullptr) return extractEntry(entry, *args.sink, run);
    return extractEntry(entry, args.targetPath, run);
}

// A failed entry neither stops the others nor fails the task: it is told as an item.
void extractEach(TaskRun& run, const std::vector<GrfEntry*>& selection, const std::u16string& targetDir,
                 bool keepDirs, bool useKoreanNames) {
    uint64_t total = 0;
    for (const GrfEntry* entry : selection) {
        total += entry->compressedSize();
    }
    run.announceTotal(total);
    // Inflated on one thread per core, written here in list order.
    extractEntries(selection, targetDir, keepDirs, useKoreanNames, run, WorkPool::defaultThreads());
}

Outcome extractSelected(TaskArgs& record, TaskRun& run) {
    auto& args = static_cast<ExtractListArgs&>(record);
    extractEach(run, args.selection, args.targetDir, args.keepDirs != 0, args.useKoreanNames != 0);
    return {};
}

Outcome extractAll(TaskArgs& record, TaskRun& run) {
    auto& args = static_cast<ExtractAllArgs&>(record);
    // Every entry the file holds; one marked deleted has been taken out of it as far as the
    // user is concerned, so it is neither extracted nor counted.
    std::vector<GrfEntry*> everything;
    everything.reserve(args.archive->storedEntries().size());
    for (const auto& entry : args.archive->storedEntries()) {
        if (entry->state() == ENTRY_STORED) everything.push_back(entry.get());
    }
    extractEach(run, everything, args.targetDir, args.keepDirs != 0, args.useKoreanNames != 0);
    return {};
}

Outcome addDirectory(TaskArgs& record, TaskRun& run) {
    auto& args = static_cast<AddDirectoryArgs&>(record);
    // The units cut from every full path: the directory and the backslash after it, so that
    // "C:\src" and "C:\src\" name the same entries.
    const std::u16string& directory = args.directory;
    const size_t prefixLength = directory.size() + (!directory.empty() && directory.back() == u'\\' ? 0 : 1);
    addDirectoryTree(args, prefixLength, directory, run);
    return {};
}

Outcome addArchive(TaskArgs& record, TaskRun& run) {
    auto& args = static_cast<AddArchiveArgs&>(record);
    return mergeArchive(*args.archive, args.otherPath, run);
}

Outcome saveArchive(TaskArgs& record, TaskRun& run) {
    auto& args = static_cast<SaveArgs&>(record);
    GrfArchive& archive = *args.archive;
    // Only what the save will write: a pending entry marked deleted is skipped, and counting it
    // would leave the bar short of its end.
    uint64_t total = 0;
    for (const auto& entry : archive.pendingEntries()) {
        if (entry->state() != ENTRY_DELETED) {
            total += entry->originalSize();
        }
    }
    run.announceTotal(total);
    return saveArchive(archive, args.level, args.useKoreanNames != 0, run);
}

Outcome recompress(TaskArgs& record, TaskRun& run) {
    auto& args = static_cast<RecompressArgs&>(record);
    RecompressResult result = recompressArchive(std::move(args.archive), args.level, args.useKoreanNames != 0, run,
                                                [&run](uint64_t total) { run.announceTotal(total); });
    args.resultArchive = std::move(result.archive);
    args.reopenFailure = std::move(result.reopenFailure);
    return std::move(result.outcome);
}

}  // namespace

// Here, where GrfArchive is complete for the owning pointers.
RecompressArgs::RecompressArgs() = default;
RecompressArgs::~RecompressArgs() = default;

TaskProcedure taskProcedureOf(uint32_t code) {
    switch (code) {
    case TASK_EXTRACT_ONE: return extractOne;
    case TASK_EXTRACT_SELECTED: return extractSelected;
    case TASK_EXTRACT_ALL: return extractAll;
    case TASK_ADD_DIRECTORY: return addDirectory;
    case TASK_ADD_ARCHIVE: return addArchive;
    case TASK_SAVE: return saveArchive;
    case TASK_RECOMPRESS: return recompress;
    default: return nullptr;
    }
}
