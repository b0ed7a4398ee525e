#include <algorithm>
#include <cstdio>
#include <span>
#include <vector>

#include "cli/commands.h"
#include "cli/console_io.h"
#include "cli/item_report.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"
#include "archive/base/result_codes.h"
#include "archive/ops/extract_sink.h"

namespace {

// Standard output as an extraction's sink: the bytes go out as they are inflated, with no file
// between. What was written cannot be taken back; a damaged entry stops the output and fails.
class StandardOutputSink final : public ExtractSink {
public:
    FailureReason open() override { return {}; }
    FailureReason write(std::span<const uint8_t> bytes) override {
        return outputFailure(writeOutBytes(bytes.data(), bytes.size()));
    }
    FailureReason commit() override {
        // The last buffered bytes leave only now: a full disk or a closed pipe may show here alone.
        return outputFailure(closeOut());
    }
    void discard() override {}

    // The runtime's error number of a write that failed, 0 when none did.
    int error = 0;

private:
    FailureReason outputFailure(int writeError) {
        if (writeError == 0) return {};
        error = writeError;
        return systemFailure(RESULT_OPEN_FAILED, Operation::WRITE, writeError, u"-");
    }
};

int extractOne(Session& session, GrfEntry& entry) {
    const std::string& target = *session.options.outputPath;
    StandardOutputSink standardOutput;
    auto args = std::make_unique<ExtractOneArgs>();
    args->entry = &entry;
    if (target == "-") {
        args->targetPath = u"-";
        args->sink = &standardOutput;
    } else {
        args->targetPath = corePath(target);
    }
    const TaskCompletion extracted = session.runTask(TASK_EXTRACT_ONE, std::move(args));
    if (standardOutput.error != 0) {
        reportError(standardOutput.error, "cannot write standard output");
        return EXIT_FAILED;
    }
    if (!extracted.outcome.ok()) {
        reportReason(extracted.outcome.reason(), "cannot extract " + utf16ToUtf8(session.shownName(entry)));
        return EXIT_FAILED;
    }
    return EXIT_OK;
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
