#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/commands.h"
#include "cli/console_io.h"
#include "cli/item_report.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"
#include "archive/result_codes.h"
#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"

namespace {

bool copyToStdout(const std::u16string& path) {
    platform::ExclusiveFile file;
    if (const int error = file.open(path, platform::ExclusiveFile::Mode::READ); error != 0) {
        reportResult(error, "cannot read the extracted data back");
        return false;
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const size_t count = file.read(buffer.data(), buffer.size());
        if (count == 0) {
            if (file.lastSystemError() == 0) break;
            reportReason(systemFailure(RESULT_OPEN_FAILED, Operation::READ, file.lastSystemError(), path),
                         "cannot read the extracted data back");
            return false;
        }
        if (const int error = writeOutBytes(buffer.data(), count); error != 0) {
            reportError(error, "cannot write standard output");
            return false;
        }
    }
    // The last buffered bytes leave only now: a full disk or a closed pipe may show here alone.
    if (const int error = closeOut(); error != 0) {
        reportError(error, "cannot write standard output");
        return false;
    }
    return true;
}

int extractOne(Session& session, GrfEntry& entry) {
    const std::string& target = *session.options.outputPath;
    const bool toStdout = target == "-";
    std::u16string targetPath;
    if (toStdout) {
        // The core writes entries to files; a private temporary file carries the data over.
        const auto temp = makeTempFile();
        if (!temp) {
            reportFailure("no temporary file can be made for -o -");
            return EXIT_FAILED;
        }
        targetPath = *temp;
    } else {
        targetPath = corePath(target);
    }

    auto args = std::make_unique<ExtractOneArgs>();
    args->entry = &entry;
    args->targetPath = targetPath;
    const TaskCompletion extracted = session.runTask(TASK_EXTRACT_ONE, std::move(args));
    bool ok = extracted.outcome.ok();
    if (!ok) {
        reportReason(extracted.outcome.reason(), "cannot extract " + utf16ToUtf8(session.shownName(entry)));
    }
    if (toStdout) {
        ok = ok && copyToStdout(targetPath);
        platform::deleteFile(targetPath);
    }
    return ok ? EXIT_OK : EXIT_FAILED;
}

}  // namespace

int runExtract(Session& session) {
    const CliOptions& options = session.options;
    const ArchiveHandle archive = session.openArchive(options.args[0], Session::Access::READ);
    if (!archive) return EXIT_FAILED;

    std::vector<GrfEntry*> selection;
    bool missing = false;
    for (size_t i = 1; i < options.args.size(); ++i) {
        const std::vector<GrfEntry*> found = session.findEntries(*archive, options.args[i]);
        missing = missing || found.empty();
        for (GrfEntry* entry : found) {
            // A name and a pattern may both mean one entry; it is written once.
            if (std::find(selection.begin(), selection.end(), entry) == selection.end()) selection.push_back(entry);
        }
    }
    if (options.outputPath && selection.empty()) return EXIT_FAILED;
    if (options.outputPath && selection.size() > 1) {
        reportFailure("'" + options.args[1] + "' matches " + std::to_string(selection.size()) +
                      " entries; -o writes exactly one");
        return EXIT_FAILED;
    }
    if (options.outputPath) return extractOne(session, *selection.front());

    const std::u16string targetDir = corePath(options.targetDir.value_or("."));
    ItemReport failures(session, "cannot extract", "failed");
    uint64_t attempted = selection.size();
    if (options.args.size() == 1) {
        attempted = archive->storedEntries().size();
        auto args = std::make_unique<ExtractAllArgs>();
        args->keepDirs = options.flat ? 0 : 1;
        args->useKoreanNames = options.korean ? 1 : 0;
        args->archive = archive.get();
        args->targetDir = targetDir;
        // The whole task cannot fail; each entry that does is an item of `failures`.
        (void)session.runTask(TASK_EXTRACT_ALL, std::move(args)).outcome.ok();
    } else if (!selection.empty()) {
        auto args = std::make_unique<ExtractListArgs>();
        args->keepDirs = options.flat ? 0 : 1;
        args->useKoreanNames = options.korean ? 1 : 0;
        args->selection = selection;
        args->targetDir = targetDir;
        (void)session.runTask(TASK_EXTRACT_SELECTED, std::move(args)).outcome.ok();
    }
    failures.summarize(attempted - std::min(attempted, failures.count), "extracted", "failed");
    return missing || failures.count > 0 ? EXIT_FAILED : EXIT_OK;
}
