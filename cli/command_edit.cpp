#include <vector>

#include "archive/format/entry_name.h"
#include "cli/commands.h"
#include "cli/console_io.h"
#include "cli/item_report.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"
#include "platform/disk_ops.h"

namespace {

// A new archive lives in a temporary file until its save completes; closing it unsaved removes
// that file, and whatever the path held before stays as it was.
void discardNewArchive(ArchiveHandle& archive) {
    archive.reset();
}

// The archive to add to: opened, or created when the path does not exist yet. Null when
// either fails.
ArchiveHandle openOrCreate(Session& session, const std::string& pathArgument, bool& created) {
    created = !platform::fileExists(corePath(pathArgument));
    return created ? session.createArchive(pathArgument) : session.openArchive(pathArgument, Session::Access::UPDATE);
}

// Saves, and on failure removes an archive this command created.
int saveOrDiscard(Session& session, ArchiveHandle& archive, const std::string& pathArgument, bool created) {
    if (session.saveArchive(*archive, pathArgument)) return EXIT_OK;
    if (created) discardNewArchive(archive);
    return EXIT_FAILED;
}

uint64_t pendingCount(const GrfArchive& archive) {
    uint64_t count = 0;
    for (const auto& entry : archive.pendingEntries()) {
        if (entry->state() != ENTRY_DELETED) ++count;
    }
    return count;
}

}  // namespace

int runCreate(Session& session) {
    const std::string& path = session.options.args[0];
    // The window asks before it replaces a file; a command line cannot ask, so it wants --force.
    if (!session.options.force && platform::fileExists(corePath(path))) {
        reportFailure(path + " already exists (--force replaces it)");
        return EXIT_FAILED;
    }
    ArchiveHandle archive = session.createArchive(path);
    if (!archive) return EXIT_FAILED;
    // A bare header has no table and would not open; an empty table makes it a real archive.
    return saveOrDiscard(session, archive, path, true);
}

int runAdd(Session& session) {
    const std::string& path = session.options.args[0];
    const std::string& directoryArgument = session.options.args[1];
    const std::u16string directory = corePath(directoryArgument);
    if (!platform::isDirectory(directory)) {
        reportFailure(directoryArgument + " is not a directory");
        return EXIT_FAILED;
    }
    bool created = false;
    ArchiveHandle archive = openOrCreate(session, path, created);
    if (!archive) return EXIT_FAILED;
    auto args = std::make_unique<AddDirectoryArgs>();
    args->useKoreanNames = session.options.korean ? 1 : 0;
    args->readSmallFilesNow = 1;
    args->archive = archive.get();
    args->directory = directory;
    ItemReport skips(session, "skipped", "skipped");
    if (const TaskCompletion walked = session.runTask(TASK_ADD_DIRECTORY, std::move(args)); !walked.outcome) {
        reportReason(walked.outcome.reason(), "cannot add " + directoryArgument);
        if (created) discardNewArchive(archive);
        return EXIT_FAILED;
    }
    const uint64_t added = pendingCount(*archive);
    const int status = saveOrDiscard(session, archive, path, created);
    if (status != EXIT_OK) return status;
    skips.summarize(added, "added", "skipped");
    // Something the user asked to store is not in the archive: a script must learn of it.
    return skips.count > 0 ? EXIT_FAILED : EXIT_OK;
}

int runMerge(Session& session) {
    const std::string& path = session.options.args[0];
    const std::string& other = session.options.args[1];
    // The archive holds its own file, so opening it a second time could only fail with a bare
    // "permission denied".
    if (platform::sameFile(corePath(path), corePath(other))) {
        reportFailure("cannot merge " + other + " into itself");
        return EXIT_FAILED;
    }
    bool created = false;
    ArchiveHandle archive = openOrCreate(session, path, created);
    if (!archive) return EXIT_FAILED;
    auto args = std::make_unique<AddArchiveArgs>();
    args->archive = archive.get();
    args->otherPath = corePath(other);
    ItemReport skips(session, "skipped", "skipped");
    if (const TaskCompletion merged = session.runTask(TASK_ADD_ARCHIVE, std::move(args)); !merged.outcome) {
        reportReason(merged.outcome.reason(), "cannot merge " + other);
        if (created) discardNewArchive(archive);
        return EXIT_FAILED;
    }
    const uint64_t merged = pendingCount(*archive);
    const int status = saveOrDiscard(session, archive, path, created);
    if (status != EXIT_OK) return status;
    skips.summarize(merged, "merged", "skipped");
    return skips.count > 0 ? EXIT_FAILED : EXIT_OK;
}

int runDelete(Session& session) {
    const CliOptions& options = session.options;
    ArchiveHandle archive = session.openArchive(options.args[0], Session::Access::UPDATE);
    if (!archive) return EXIT_FAILED;
    std::vector<GrfEntry*> doomed;
    bool missing = false;
    for (size_t i = 1; i < options.args.size(); ++i) {
        const std::vector<GrfEntry*> found = session.findEntries(*archive, options.args[i]);
        missing = missing || found.empty();
        doomed.insert(doomed.end(), found.begin(), found.end());
    }
    // All or nothing: a mistyped name should not leave the others deleted.
    if (missing) return EXIT_FAILED;
    for (GrfEntry* entry : doomed) archive->markDeleted(*entry);
    return session.saveArchive(*archive, options.args[0]) ? EXIT_OK : EXIT_FAILED;
}

int runRename(Session& session) {
    const CliOptions& options = session.options;
    const std::string& newArgument = options.args[2];
    ArchiveHandle archive = session.openArchive(options.args[0], Session::Access::UPDATE);
    if (!archive) return EXIT_FAILED;
    GrfEntry* entry = session.findEntry(*archive, options.args[1]);
    if (!entry) return EXIT_FAILED;
    auto newName = session.nameBytes(newArgument);
    if (!newName) return EXIT_FAILED;
    if (!options.hex) newName = withBackslashes(*newName);
    switch (entry->rename(*newName)) {
    case RenameResult::RENAMED: break;
    case RenameResult::INVALID_NAME:
        reportFailure("'" + newArgument + "' is not a valid entry name (1 to " + std::to_string(MAX_NAME_LENGTH) +
                      " bytes, no zero byte)");
        return EXIT_FAILED;
    case RenameResult::NAME_TAKEN:
        reportFailure("an entry named '" + newArgument + "' already exists");
        return EXIT_FAILED;
    }
    return session.saveArchive(*archive, options.args[0]) ? EXIT_OK : EXIT_FAILED;
}
