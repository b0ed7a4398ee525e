#include "cli/commands.h"
#include "cli/report.h"
#include "cli/session.h"

int runRepack(Session& session) {
    const CliOptions& options = session.options;
    ArchiveHandle archive = session.openArchive(options.args[0], Session::Access::UPDATE);
    if (!archive || !session.startWorker()) return EXIT_FAILED;

    // The task takes the archive over: it destroys it once the rewritten file replaces it, or
    // hands it back as the result when the rewrite could not begin.
    auto* args = new RecompressArgs;
    args->useKoreanNames = options.korean ? 1 : 0;
    args->level = options.level;
    args->archive = archive.release();
    const std::unique_ptr<RecompressArgs> record(reinterpret_cast<RecompressArgs*>(session.runTask(TASK_RECOMPRESS, args)));
    if (!record) {
        reportFailure("the repack task gave no result");
        return EXIT_FAILED;
    }
    const ArchiveHandle result(record->resultArchive);
    if (record->error != 0) {
        reportResult(record->error, "cannot repack " + options.args[0]);
        return EXIT_FAILED;
    }
    return EXIT_OK;
}
