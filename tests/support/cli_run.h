#pragma once
#include <optional>
#include <string>
#include <vector>

// What one run of the command-line program left behind.
struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built quarnel-cli with `arguments` (UTF-8), standard output and error captured
// through files in `scratchDir` (a native path); standard input is the test's own.
CliResult runCliProgram(const std::vector<std::string>& arguments, const std::string& scratchDir);

// The same as the unprivileged user 65534 when the test runs as root, whom no file permission
// stops; nullopt when the system refuses the change. Elsewhere a plain run.
std::optional<CliResult> runCliProgramUnprivileged(const std::vector<std::string>& arguments,
                                                   const std::string& scratchDir);

// The same with standard error on a pseudo-terminal (`err` is what the terminal received);
// nullopt where the system offers none to a test.
std::optional<CliResult> runCliProgramOnTerminal(const std::vector<std::string>& arguments,
                                                 const std::string& scratchDir);

// The same, killed (SIGKILL) once it has stopped itself in its first save: QUARNEL_TEST_STOP_IN_SAVE
// makes the tool stop at the save's first progress. nullopt where the system offers no such stop.
std::optional<CliResult> runCliProgramKilledMidSave(const std::vector<std::string>& arguments,
                                                    const std::string& scratchDir);
