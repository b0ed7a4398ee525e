#include "archive/ops/save.h"
#include "archive/ops/repack.h"

#include <memory>
#include <string>
#include <utility>

#include "archive/model/archive.h"
#include "archive/ops/entry_data.h"
#include "archive/base/progress_sink.h"
#include "archive/base/result_codes.h"
#include "archive/model/staging.h"
#include "platform/disk_ops.h"

namespace {

// The archive on `path` as the caller will continue with it; a failed open leaves it without a
// file and its reason in `reason`.
std::unique_ptr<GrfArchive> reopen(const std::u16string& path, FailureReason& reason) {
    auto archive = std::make_unique<GrfArchive>();
    if (Outcome opened = archive->open(path); !opened) reason = opened.reason();
    return archive;
}

}  // namespace

RecompressResult recompressArchive(std::unique_ptr<GrfArchive> oldArchive, int level, bool useKoreanNames, ProgressSink& progress,
                                   const std::function<void(uint64_t total)>& announceTotal) {
    const std::u16string path = oldArchive->path;
    RecompressResult result;

    removeStaleStagingFiles(path);
    int createError = 0;
    const auto tempPath = createStagingFile(path, &createError);
    if (!tempPath) {
        result.archive = std::move(oldArchive);
        result.outcome = systemFailure(RESULT_OPEN_FAILED, Operation::CREATE, createError, path);
        return result;
    }
    auto temp = std::make_unique<GrfArchive>();
    if (Outcome created = temp->createInPlace(*tempPath); !created) {
        platform::deleteFile(*tempPath);
        result.archive = std::move(oldArchive);
        result.outcome = std::move(created);
        return result;
    }

    // Shared from here on with the entries that borrow from it; our own reference makes the
    // release below the last one, also when it has no stored entries for others to hold it by.
    std::shared_ptr<GrfArchive> old(std::move(oldArchive));
    // Every stored entry, deletion marks included: the repack drops all unsaved changes. A table
    // may hold several records of one name (ASCII letter case aside); a look-up finds the first,
    // so that one is kept and the name goes on giving the bytes it gave. The later ones could not
    // be reached by name before either; each is left out by name.
    for (const auto& entry : old->storedEntries()) {
        if (old->findStored(entry->name()) != entry.get()) {
            progress.reportItemFailure(
                entryFailure(*entry, ruleFailure(0, Operation::NONE, Cause::SHADOWED_RECORD, {}), useKoreanNames));
            continue;
        }
        temp->importEntry(shareEntry(old, entry.get()));
    }
    uint64_t total = 0;
    for (const auto& entry : temp->pendingEntries()) {
        total += entry->originalSize();
    }
    announceTotal(total);

    result.outcome = saveArchive(*temp, level, useKoreanNames, progress);
    const bool saved = result.outcome.ok();
    // Closed before anything touches the path: the old archive goes with the last entry that
    // borrowed from it, and only then is its file free to be replaced or reopened.
    const bool closed = temp->file.close();
    if (saved && !closed) {
        result.outcome = systemFailure(RESULT_BAD_LENGTH, Operation::CLOSE, temp->file.lastSystemError(), *tempPath);
    }
    temp->close();
    temp.reset();
    old.reset();

    int renameError = 0;
    if (result.outcome && !platform::replaceFile(*tempPath, path, &renameError)) {
        result.outcome = systemFailure(RESULT_OPEN_FAILED, Operation::RENAME, renameError, path);
    }
    if (!result.outcome) platform::deleteFile(*tempPath);
    // The rewritten archive, or the old file as it was; either way the caller needs to know
    // when it did not open again.
    result.archive = reopen(path, result.reopenFailure);
    return result;
}
