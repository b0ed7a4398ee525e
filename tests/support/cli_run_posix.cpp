#include "tests/support/cli_run.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include "tests/support/cli_archive_writer.h"

extern char** environ;

namespace {

// Starts the tool with standard output in a file and standard error in `errFile`, or in a
// file when it is -1; answers the child's id, or -1.
pid_t spawnCli(const std::vector<std::string>& arguments, const std::string& scratchDir, int errFile,
               const char* extraVariable = nullptr) {
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
    if (errFile >= 0) {
        posix_spawn_file_actions_adddup2(&actions, errFile, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    std::vector<char*> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) environment.push_back(*variable);
    std::string extra = extraVariable != nullptr ? extraVariable : "";
    if (!extra.empty()) environment.push_back(extra.data());
    environment.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environment.data()) != 0) child = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// A signal (a crash) shows as 128 + its number, as a shell would say.
int exitStatus(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

}  // namespace

CliResult runCliProgram(const std::vector<std::string>& arguments, const std::string& scratchDir) {
    CliResult result;
    const pid_t child = spawnCli(arguments, scratchDir, -1);
    int waitStatus = 0;
    if (child > 0 && waitpid(child, &waitStatus, 0) == child) result.status = exitStatus(waitStatus);
    result.out = readFileBytes(scratchDir + "/cli-stdout");
    result.err = readFileBytes(scratchDir + "/cli-stderr");
    return result;
}

std::optional<CliResult> runCliProgramUnprivileged(const std::vector<std::string>& arguments,
                                                   const std::string& scratchDir) {
    if (geteuid() != 0) return runCliProgram(arguments, scratchDir);
    // Prepared before the fork: between fork and exec the child of a threaded program may only
    // make plain system calls.
    std::vector<std::string> words{QUARNEL_CLI_EXE};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string outPath = scratchDir + "/cli-stdout";
    const std::string errPath = scratchDir + "/cli-stderr";
    // Told apart from the tool's own statuses (0, 1, 2): the change of user was refused.
    constexpr int REFUSED = 125;
    const pid_t child = fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(REFUSED);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    CliResult result;
    int waitStatus = 0;
    if (child > 0 && waitpid(child, &waitStatus, 0) == child) result.status = exitStatus(waitStatus);
    if (result.status == REFUSED) return std::nullopt;
    result.out = readFileBytes(outPath);
    result.err = readFileBytes(errPath);
    return result;
}

std::optional<CliResult> runCliProgramOnTerminal(const std::vector<std::string>& arguments,
                                                 const std::string& scratchDir) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return std::nullopt;
    CliResult result;
    const pid_t child = spawnCli(arguments, scratchDir, slave);
    close(slave);
    // Drain the terminal while the child runs, so that it never blocks on a full buffer.
    char buffer[4096];
    for (bool running = child > 0; running;) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 20) > 0 && (ready.revents & POLLIN) != 0) {
            const ssize_t count = read(master, buffer, sizeof buffer);
            if (count > 0) result.err.append(buffer, size_t(count));
            continue;
        }
        int waitStatus = 0;
        if (waitpid(child, &waitStatus, WNOHANG) == child) {
            result.status = exitStatus(waitStatus);
            running = false;
        }
    }
    // What is left stays readable on the master after the child is gone.
    for (;;) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0 || (ready.revents & POLLIN) == 0) break;
        const ssize_t count = read(master, buffer, sizeof buffer);
        if (count <= 0) break;
        result.err.append(buffer, size_t(count));
    }
    close(master);
    result.out = readFileBytes(scratchDir + "/cli-stdout");
    return result;
}

std::optional<CliResult> runCliProgramKilledMidSave(const std::vector<std::string>& arguments,
                                                    const std::string& scratchDir) {
    CliResult result;
    const pid_t child = spawnCli(arguments, scratchDir, -1, "QUARNEL_TEST_STOP_IN_SAVE=1");
    int waitStatus = 0;
    // The tool stops itself in the save; only then is it killed, so nothing depends on timing.
    if (child > 0 && waitpid(child, &waitStatus, WUNTRACED) == child) {
        if (WIFSTOPPED(waitStatus)) {
            kill(child, SIGKILL);
            waitpid(child, &waitStatus, 0);
        }
        result.status = exitStatus(waitStatus);
    }
    result.out = readFileBytes(scratchDir + "/cli-stdout");
    result.err = readFileBytes(scratchDir + "/cli-stderr");
    return result;
}
