#include <memory>
#include <string>
#include <vector>

#include "archive/ops/diff.h"
#include "archive/model/entry_list_model.h"
#include "archive/ops/work_pool.h"
#include "cli/commands.h"
#include "cli/console_io.h"
#include "cli/item_report.h"
#include "cli/json_out.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"
#include "platform/disk_ops.h"

namespace {

// Anything that keeps the answer from being whole: an entry unread, a file left out, a side that
// does not open. diff(1) says so with 2, apart from "different" (1).
constexpr int EXIT_TROUBLE = 2;
constexpr int EXIT_DIFFERENT = 1;

// Names an entry that could not be read, with a JSON line of its own under --json.
void printUnreadable(const FailureReason& reason, bool json) {
    reportReason(reason, "cannot compare " + shownSubject(reason));
    if (json) {
        writeOut("{\"unreadable\":" + jsonString(escapeStrayBytes(shownSubject(reason))) +
                 ",\"error\":" + std::to_string(reason.code) + ",\"cause\":" + jsonString(causeText(reason)) + "}\n");
    }
}

// One side: an archive opened to read, or a folder's files named as `add` names them, held by a
// never-saved archive as pending entries. Null when it cannot be had (the reason written).
std::shared_ptr<GrfArchive> openSide(Session& session, const std::string& argument, uint64_t& leftOut) {
    const std::u16string path = corePath(argument);
    if (!platform::isDirectory(path)) {
        ArchiveHandle archive = session.openArchive(argument, Session::Access::READ);
        return archive ? std::shared_ptr<GrfArchive>(std::move(archive)) : nullptr;
    }
    auto folder = std::make_shared<GrfArchive>();
    auto args = std::make_unique<AddDirectoryArgs>();
    args->useKoreanNames = session.options.korean ? 1 : 0;
    args->archive = folder.get();
    args->directory = path;
    ItemReport skips(session, "skipped", "skipped");
    if (const TaskCompletion walked = session.runTask(TASK_ADD_DIRECTORY, std::move(args)); !walked.outcome) {
        reportReason(walked.outcome.reason(), "cannot read " + argument);
        return nullptr;
    }
    // A file left out is one the comparison cannot speak for.
    leftOut += skips.count;
    return folder;
}

std::string shownName(const Session& session, const GrfEntry& entry) {
    const std::u16string& shown = session.shownName(entry);
    return shown.empty() ? entry.name() : utf16ToUtf8(shown);
}

const char* kindWord(DiffKind kind) {
    switch (kind) {
    case DiffKind::ADDED: return "added";
    case DiffKind::REMOVED: return "removed";
    case DiffKind::CHANGED: return "changed";
    }
    return "";
}

// "added    data\a.txt (120 bytes)", "changed  data\b.txt (120 -> 98 bytes)".
std::string textLine(const Session& session, const DiffItem& item) {
    const GrfEntry& entry = item.newEntry ? *item.newEntry : *item.oldEntry;
    std::string word = kindWord(item.kind);
    word.resize(9, ' ');
    std::string sizes;
    switch (item.kind) {
    case DiffKind::ADDED: sizes = std::to_string(item.newSize); break;
    case DiffKind::REMOVED: sizes = std::to_string(item.oldSize); break;
    case DiffKind::CHANGED: sizes = std::to_string(item.oldSize) + " -> " + std::to_string(item.newSize); break;
    }
    return word + escapeControls(shownName(session, entry)) + " (" + sizes + " bytes)\n";
}

std::string jsonLine(const Session& session, const DiffItem& item) {
    const GrfEntry& entry = item.newEntry ? *item.newEntry : *item.oldEntry;
    std::string line = std::string("{\"status\":\"") + kindWord(item.kind) + "\",\"name\":" +
                       jsonString(escapeStrayBytes(shownName(session, entry)));
    if (item.oldEntry) line += ",\"old_size\":" + std::to_string(item.oldSize);
    if (item.newEntry) line += ",\"new_size\":" + std::to_string(item.newSize);
    return line + "}\n";
}

// The added and changed entries of NEW in a new archive at --level. Another archive's entries
// are inflated and compressed again by the save, as a merge stores them.
bool writePatch(Session& session, const std::shared_ptr<GrfArchive>& newSide, const std::vector<DiffItem>& differences) {
    const std::string& patchPath = *session.options.patchPath;
    if (!session.options.force && platform::fileExists(corePath(patchPath))) {
        reportFailure(patchPath + " already exists (--force replaces it)");
        return false;
    }
    ArchiveHandle patch = session.createArchive(patchPath);
    if (!patch) return false;
    addDifferences(*patch, newSide, differences);
    return session.saveArchive(*patch, patchPath);
}

}  // namespace

int runDiff(Session& session) {
    const CliOptions& options = session.options;
    uint64_t leftOut = 0;
    const std::shared_ptr<GrfArchive> oldSide = openSide(session, options.args[0], leftOut);
    if (!oldSide) return EXIT_TROUBLE;
    const std::shared_ptr<GrfArchive> newSide = openSide(session, options.args[1], leftOut);
    if (!newSide) return EXIT_TROUBLE;

    uint64_t total = 0;
    for (const auto& entry : oldSide->storedEntries()) total += entry->compressedSize();
    for (const auto& entry : oldSide->pendingEntries()) total += entry->compressedSize();
    session.listener.onItemFailed = [json = options.json](const FailureReason& reason) { printUnreadable(reason, json); };
    TaskRun run(session.listener);
    session.bar.begin();
    run.announceTotal(total);
    std::vector<DiffItem> differences;
    uint64_t unreadable = 0;
    const EntryFilter filter(options.filter ? utf8ToUtf16(*options.filter) : u"");
    const Outcome compared = diffSides(*oldSide, *newSide, options.korean, filter, run, differences, unreadable,
                                        WorkPool::defaultThreads());
    session.bar.end();
    session.listener.onItemFailed = nullptr;
    if (!compared) {
        reportReason(compared.reason(), "cannot compare " + options.args[0] + " with " + options.args[1]);
        return EXIT_TROUBLE;
    }

    std::string out;
    for (const DiffItem& item : differences) out += options.json ? jsonLine(session, item) : textLine(session, item);
    writeOut(out);

    if (options.patchPath && !writePatch(session, newSide, differences)) return EXIT_TROUBLE;
    if (unreadable > 0) {
        reportFailure(std::to_string(unreadable) + (unreadable == 1 ? " entry" : " entries") + " could not be compared");
    }
    if (leftOut > 0) {
        reportFailure(std::to_string(leftOut) + (leftOut == 1 ? " file was" : " files were") + " left out of the comparison");
    }
    if (unreadable > 0 || leftOut > 0) return EXIT_TROUBLE;
    return differences.empty() ? EXIT_OK : EXIT_DIFFERENT;
}
