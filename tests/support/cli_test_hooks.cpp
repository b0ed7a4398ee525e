// The tool as the command-line tests run it: the shipped program plus two ways to fail on purpose,
// asked for through the environment.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <set>
#include <string>

#include "cli/session.h"
#include "tests/support/file_faults.h"
#include "platform/exclusive_file.h"

void installTestHooks(Session& session) {
    // A path opened for update once refuses every later such open as a file another program
    // holds, as when another program takes an archive the moment a repack has replaced it.
    if (std::getenv("QUARNEL_TEST_REFUSE_REOPEN") != nullptr) {
        setOpenFaultHook(
            [opened = std::set<std::u16string>()](const std::u16string& path, platform::ExclusiveFile::Mode mode) mutable {
                if (mode != platform::ExclusiveFile::Mode::UPDATE) return 0;
                return opened.insert(path).second ? 0 : EACCES;
            });
    }
    // The process stops itself at the save's first progress (where the system can), so that a
    // test can kill it in the middle of a save without a race.
    if (std::getenv("QUARNEL_TEST_STOP_IN_SAVE") != nullptr) {
        session.onSaving = [&session] {
            session.listener.onProgress = [&session] {
                session.listener.onProgress = nullptr;
#ifdef SIGSTOP
                std::raise(SIGSTOP);
#endif
            };
        };
    }
}
