#include "tests/support/cli_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "tests/support/cli_archive_writer.h"

extern char** environ;

CliResult runCliProgram(const std::vector<std::string>& arguments, const std::string& scratchDir) {
    const std::string outPath = scratchDir + "/cli-stdout";
    const std::string errPath = scratchDir + "/cli-stderr";
    std::vector<std::string> words{QUARNEL_CLI_EXE};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    CliResult result;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int waitStatus = 0;
        if (waitpid(child, &waitStatus, 0) == child) {
            // A signal (a crash) shows as 128 + its number, as a shell would say.
            result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = readFileBytes(outPath);
    result.err = readFileBytes(errPath);
    return result;
}
