#include "archive/result_codes.h"
#include "cli/commands.h"
#include "cli/console_io.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"
#include "platform/disk_ops.h"

// Every stored entry goes through the same extraction as `extract`, into one scratch file, so
// a damaged entry fails here exactly as it would fail there.
int runCheck(Session& session) {
    const CliOptions& options = session.options;
    const ArchiveHandle archive = session.openArchive(options.args[0], Session::Access::READ);
    if (!archive || !session.startWorker()) return EXIT_FAILED;
    const auto scratch = makeTempFile();
    if (!scratch) {
        reportFailure("no temporary file can be made for the check");
        return EXIT_FAILED;
    }

    uint64_t total = 0;
    for (const auto& entry : archive->entries) total += entry->compressedSize;
    session.bar.fixTotal(total);
    session.channel.showStatus = false;

    uint64_t done = 0;
    size_t damaged = 0;
    for (const auto& entry : archive->entries) {
        session.bar.setBase(done);
        session.bar.setStatus(session.shownName(*entry));
        auto* args = new ExtractOneArgs;
        args->entry = entry.get();
        args->targetPath = *scratch;
        const auto result = int(session.runTask(TASK_EXTRACT_ONE, args));
        done += entry->compressedSize;
        if (result == 0) continue;
        ++damaged;
        session.bar.clear();
        const char16_t* text = resultText(result);
        std::string line = utf16ToUtf8(session.shownName(*entry)) + ": error " + std::to_string(result) + ": " +
                           utf16ToUtf8(text ? text : u"");
        if (*explainResult(result)) line += std::string(" (") + explainResult(result) + ")";
        writeOut(line + "\n");
    }
    platform::deleteFile(*scratch);
    session.bar.clear();

    const size_t count = archive->entries.size();
    writeOut(std::to_string(count) + (count == 1 ? " entry" : " entries") + " checked, " + std::to_string(damaged) +
             " damaged\n");
    if (damaged > 0) {
        reportFailure(std::to_string(damaged) + " of " + std::to_string(count) + " entries do not extract");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}
