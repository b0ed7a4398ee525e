#include <algorithm>

#include "cli/commands.h"
#include "cli/item_report.h"
#include "cli/report.h"
#include "cli/session.h"

int runRepack(Session& session) {
    const CliOptions& options = session.options;
    ArchiveHandle archive = session.openArchive(options.args[0], Session::Access::UPDATE);
    if (!archive) return EXIT_FAILED;

    const uint64_t records = archive->storedEntries().size();
    // The task takes the archive over: it destroys it once the rewritten file replaces it, or
    // hands it back as the result when the rewrite could not begin.
    auto args = std::make_unique<RecompressArgs>();
    args->useKoreanNames = options.korean ? 1 : 0;
    args->level = options.level;
    args->archive = std::move(archive);
    // An entry that cannot be rewritten stops the repack; it is named before the repack's own line.
    // A record that a look-up of its name never finds is left out, by name, and the run fails.
    ItemReport failed(session, "cannot store", "failed");
    failed.useVerbFor(Cause::SHADOWED_RECORD, "left out");
    const TaskCompletion repacked = session.runTask(TASK_RECOMPRESS, std::move(args));
    if (!repacked.outcome) {
        reportReason(repacked.outcome.reason(), "cannot repack " + options.args[0]);
        return EXIT_FAILED;
    }
    // The rewritten archive is in place: a success, whatever kept it from opening again.
    const auto* const record = static_cast<const RecompressArgs*>(repacked.args.get());
    if (record->reopenFailure.failed()) {
        reportWarning(options.args[0] + " was repacked but cannot be opened again: " +
                      explainReason(record->reopenFailure));
    }
    failed.summarize(records - std::min(records, failed.count), "kept", "left out");
    return failed.count > 0 ? EXIT_FAILED : EXIT_OK;
}
