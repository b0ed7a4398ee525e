#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/model/archive.h"
#include "cli/console_listener.h"
#include "cli/options.h"
#include "cli/progress_bar.h"
#include "worker/task_codes.h"
#include "worker/task_run.h"

// An archive the command holds. Heap-allocated like the window's: a repack hands it to the
// task, which destroys it once the rewritten file replaces it.
using ArchiveHandle = std::unique_ptr<GrfArchive>;

// What every command works with: its options, the console listener, and the name rules of the
// chosen code page.
class Session {
public:
    explicit Session(const CliOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const CliOptions& options;
    ProgressBar bar;
    ConsoleListener listener;

    // Runs one task here, on the command's own thread, reporting to the console.
    TaskCompletion runTask(uint32_t code, std::unique_ptr<TaskArgs> args);

    // Tests only: called right before a save starts.
    std::function<void()> onSaving;
    // Runs the save task at --level; false (and the error line written) when it fails.
    bool saveArchive(GrfArchive& archive, const std::string& pathArgument);

    // READ lets list, extract and check work on a read-only file or beside other readers; UPDATE
    // is for commands that save.
    enum class Access { READ, UPDATE };
    // Opens an existing archive; null (and the error line written) when it does not open.
    ArchiveHandle openArchive(const std::string& pathArgument, Access access);
    // Creates an empty archive, kept in a temporary file beside its path until a save completes
    // (destroying it unsaved leaves nothing); null and the error line when it cannot be created.
    ArchiveHandle createArchive(const std::string& pathArgument);
    // The entry a NAME argument means (stored first, then added); null and an error line when none.
    GrfEntry* findEntry(GrfArchive& archive, const std::string& nameArgument);
    // The entries a NAME argument means: those whose shown name a pattern with * or ? matches
    // whole (a slash standing for a backslash), else findEntry's one. Empty, and an error line
    // written, when none.
    std::vector<GrfEntry*> findEntries(GrfArchive& archive, const std::string& nameArgument);
    // The stored bytes a NAME argument stands for: --hex, else encoded in the chosen code page.
    // nullopt (and the error line written) when it cannot be.
    std::optional<std::string> nameBytes(const std::string& nameArgument);

    uint32_t nameCodePage() const;
    const std::u16string& shownName(const GrfEntry& entry) const {
        return entry.displayName(options.korean);
    }
};

// Where test builds of the tool install their fault hooks; the shipped tool's does nothing.
void installTestHooks(Session& session);

// The core's form of a path typed on the command line.
std::u16string corePath(const std::string& argument);
// A fresh empty file in the system's temporary directory; nullopt when none can be made.
std::optional<std::u16string> makeTempFile();
