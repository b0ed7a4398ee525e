#include <string>
#include <vector>

#include "archive/extract_batch.h"
#include "archive/progress_sink.h"
#include "archive/result_codes.h"
#include "archive/work_pool.h"
#include "cli/commands.h"
#include "cli/console_io.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"

namespace {

// Draws the check's progress and names each damaged entry as the check reports it.
class CheckReport : public ProgressSink {
public:
    explicit CheckReport(ProgressBar& bar) : bar(bar) {}

    void reportStatus(const char16_t* text) override { bar.setStatus(text); }
    void reportProgress(uint32_t bytes, bool commit) override {
        const uint64_t done = committed + bytes;
        if (commit) committed = done;
        bar.setDone(done);
    }
    // "data\x.bmp: error -1005: TEXT (explanation)", the explanation saying what is known of
    // the cause ("the entry's data position lies beyond ...").
    void reportItemFailure(const FailureReason& reason) override {
        ++damaged;
        bar.clear();
        std::string line = shownSubject(reason) + ": error " + std::to_string(reason.code) + ": " + resultWords(reason.code);
        std::string explanation = causeText(reason);
        if (explanation.empty()) explanation = explainResult(reason.code);
        if (!explanation.empty()) line += " (" + explanation + ")";
        writeOut(escapeControls(line) + "\n");
    }
    void finish() { bar.end(); }

    size_t damaged = 0;

private:
    ProgressBar& bar;
    uint64_t committed = 0;
};

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
        total += entry->compressedSize;
    }
    CheckReport report(session.bar);
    session.bar.begin();
    session.bar.setTotal(total);
    checkEntries(everything, options.korean, report, WorkPool::defaultThreads());
    report.finish();

    const size_t count = everything.size();
    writeOut(std::to_string(count) + (count == 1 ? " entry" : " entries") + " checked, " +
             std::to_string(report.damaged) + " damaged\n");
    if (report.damaged > 0) {
        reportFailure(std::to_string(report.damaged) + " of " + std::to_string(count) + " entries do not extract");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}
