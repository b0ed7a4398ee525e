#include <string>
#include <vector>

#include "archive/ops/extract_batch.h"
#include "archive/base/result_codes.h"
#include "archive/ops/work_pool.h"
#include "cli/commands.h"
#include "cli/console_io.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"

namespace {

// "data\x.bmp: error -1005: TEXT (explanation)", the explanation saying what is known of the
// cause ("the entry's data position lies beyond ...").
void printDamaged(const FailureReason& reason) {
    std::string line = shownSubject(reason) + ": error " + std::to_string(reason.code) + ": " + resultWords(reason.code);
    std::string explanation = causeText(reason);
    if (explanation.empty()) explanation = explainResult(reason.code);
    if (!explanation.empty()) line += " (" + explanation + ")";
    writeOut(escapeControls(line) + "\n");
}

}  // namespace

// Every stored entry is read and inflated as `extract` does, in memory on every core, so a
// damaged entry fails here exactly as it would fail there; nothing is written.
int runCheck(Session& session) {
    const CliOptions& options = session.options;
    const ArchiveHandle archive = session.openArchive(options.args[0], Session::Access::READ);
    if (!archive) return EXIT_FAILED;

    std::vector<GrfEntry*> everything;
    uint64_t total = 0;
    for (const auto& entry : archive->storedEntries()) {
        everything.push_back(entry.get());
        total += entry->compressedSize();
    }
    // Each damaged entry is named as the check meets it.
    session.listener.onItemFailed = printDamaged;
    TaskRun run(session.listener);
    session.bar.begin();
    run.announceTotal(total);
    checkEntries(everything, options.korean, run, WorkPool::defaultThreads());
    session.bar.end();
    session.listener.onItemFailed = nullptr;

    const size_t count = everything.size();
    const uint64_t damaged = run.itemFailures();
    writeOut(std::to_string(count) + (count == 1 ? " entry" : " entries") + " checked, " + std::to_string(damaged) +
             " damaged\n");
    if (damaged > 0) {
        reportFailure(std::to_string(damaged) + " of " + std::to_string(count) + " entries do not extract");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}
