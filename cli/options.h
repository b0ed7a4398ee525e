#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the command line asked for, before anything is opened.
struct CliOptions {
    std::string command;             // empty when only --help or --version was given
    std::vector<std::string> args;   // operands after the command, UTF-8 as typed
    bool help = false;
    bool version = false;
    bool korean = false;
    bool hex = false;
    bool quiet = false;
    bool json = false;
    bool reverse = false;
    bool flat = false;
    bool force = false;
    std::optional<uint32_t> ansiCodePage;
    std::optional<std::string> filter;
    std::string sort;                // empty, "name", "packed", "size" or "offset"
    std::optional<std::string> outputPath;
    std::optional<std::string> targetDir;
    std::optional<std::string> patchPath;
    int level = 6;
};

class Session;

// One command of the program: what runs it, how it is called and which options it takes.
struct CommandInfo {
    const char* name;
    int (*run)(Session& session);  // answers the exit status
    const char* usage;      // operands and options after the command name
    const char* summary;
    const char* details;    // the lines of its --help after the usage
    size_t minArgs;
    size_t maxArgs;         // SIZE_MAX: any number
    uint32_t optionMask;    // OPT_* bits the command accepts beyond the global ones
};

constexpr uint32_t OPT_FILTER = 1u << 0;
constexpr uint32_t OPT_SORT = 1u << 1;
constexpr uint32_t OPT_REVERSE = 1u << 2;
constexpr uint32_t OPT_JSON = 1u << 3;
constexpr uint32_t OPT_DIR = 1u << 4;
constexpr uint32_t OPT_FLAT = 1u << 5;
constexpr uint32_t OPT_OUTPUT = 1u << 6;
constexpr uint32_t OPT_LEVEL = 1u << 7;
constexpr uint32_t OPT_FORCE = 1u << 8;
constexpr uint32_t OPT_PATCH = 1u << 9;

// The table is cli/command_table.cpp.
const std::vector<CommandInfo>& commandTable();
const CommandInfo* findCommand(const std::string& name);

// Fills `options` from argv (without the program name). False on a usage error, with
// the reason in `problem`; operand counts are checked too unless --help was given.
bool parseOptions(const std::vector<std::string>& argv, CliOptions& options, std::string& problem);
const char* globalOptionsHelp();
