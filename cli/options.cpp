#include "cli/options.h"

#include <charconv>

namespace {

constexpr const char* GLOBAL_DETAILS =
    "Global options:\n"
    "  --korean             names in their code page 949 form (shown, extracted, given)\n"
    "  --ansi-codepage N    the code page of the ANSI name form for this run\n"
    "  --hex                every NAME is the hexadecimal of the stored name bytes\n"
    "  --quiet              no progress bar\n"
    "  --help, --version\n";

const std::vector<CommandInfo> COMMANDS = {
    {"create", "ARCHIVE [--force]", "create an empty archive",
     "  --force              replace an existing file\n", 1, 1, OPT_FORCE},
    {"list", "ARCHIVE [--filter TEXT] [--sort name|packed|size|offset] [--reverse] [--json]",
     "list the entries",
     "  --filter TEXT        only names containing TEXT, or matching it whole when it holds * or ?\n"
     "                       (ASCII letters match either case)\n"
     "  --sort KEY           order by name, packed (compressed) size, size or offset\n"
     "  --reverse            reverse the order\n"
     "  --json               one JSON object per line instead of the table\n",
     1, 1, OPT_FILTER | OPT_SORT | OPT_REVERSE | OPT_JSON},
    {"extract", "ARCHIVE [NAME ...] [-C DIR] [--flat] | ARCHIVE NAME -o FILE",
     "extract entries (no NAME: every entry)",
     "  -C DIR               extract below DIR (default: the current directory)\n"
     "  --flat               leave out the directory part of each name\n"
     "  -o FILE              write the one NAME to FILE; -o - writes it to standard output\n"
     "  A NAME holding * or ? takes every entry whose whole name it matches.\n",
     1, SIZE_MAX, OPT_DIR | OPT_FLAT | OPT_OUTPUT},
    {"add", "ARCHIVE DIR [--level N] [--json]", "add a directory tree as data\\..., then save",
     "  --level N            zlib level 0 to 9 (default 6)\n"
     "  --json               also one JSON object per left-out file on standard output\n"
     "  A missing ARCHIVE is created first. Each file left out is named on standard error,\n"
     "  a count closes the run, and the exit status is then 1.\n",
     2, 2, OPT_LEVEL | OPT_JSON},
    {"merge", "ARCHIVE OTHER [--level N]", "add every entry of another archive, then save",
     "  --level N            zlib level 0 to 9 (default 6)\n"
     "  A missing ARCHIVE is created first.\n",
     2, 2, OPT_LEVEL},
    {"delete", "ARCHIVE NAME ... [--level N]", "delete entries, then save",
     "  --level N            zlib level 0 to 9 (default 6)\n"
     "  A NAME holding * or ? takes every entry whose whole name it matches.\n", 2, SIZE_MAX, OPT_LEVEL},
    {"rename", "ARCHIVE OLD NEW [--level N]", "rename an entry, then save",
     "  --level N            zlib level 0 to 9 (default 6)\n", 3, 3, OPT_LEVEL},
    {"repack", "ARCHIVE [--level N]", "rewrite the archive compactly at a level",
     "  --level N            zlib level 0 to 9 (default 6)\n"
     "  Of several records of one name, the one a look-up finds is kept; each other is named\n"
     "  on standard error as left out, a count closes the run, and the exit status is then 1.\n",
     1, 1, OPT_LEVEL},
    {"check", "ARCHIVE", "inflate every entry and report the damaged ones", "", 1, 1, 0},
    {"diff", "OLD NEW [--filter TEXT] [--json] [--patch PATCH [--level N] [--force]]",
     "list the entries added, removed or changed from OLD to NEW",
     "  OLD and NEW are each an archive or a directory, whose files are named data\\... as add\n"
     "  names them. Contents are compared inflated: levels do not matter, nor ASCII case of names.\n"
     "  --filter TEXT        only names containing TEXT, or matching it whole when it holds * or ?\n"
     "  --json               one JSON object per line instead of the text lines\n"
     "  --patch PATCH        also write an archive of the added and changed entries of NEW\n"
     "                       (removed entries are listed only)\n"
     "  --level N            zlib level 0 to 9 for the patch (default 6)\n"
     "  --force              replace an existing PATCH\n"
     "  Exit status: 0 equal, 1 different, 2 an entry or file could not be compared, or a usage error.\n",
     2, 2, OPT_FILTER | OPT_JSON | OPT_PATCH | OPT_LEVEL | OPT_FORCE},
};

bool parseNumber(const std::string& text, uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// Options that take a value; the value may follow as the next word or after '='.
struct ValueOption {
    const char* name;
    uint32_t bit;  // 0: global
};

const ValueOption VALUE_OPTIONS[] = {
    {"--filter", OPT_FILTER}, {"--sort", OPT_SORT}, {"-C", OPT_DIR},
    {"-o", OPT_OUTPUT},       {"--level", OPT_LEVEL}, {"--ansi-codepage", 0},
    {"--patch", OPT_PATCH},
};

struct FlagOption {
    const char* name;
    uint32_t bit;
    bool CliOptions::*field;
};

const FlagOption FLAG_OPTIONS[] = {
    {"--help", 0, &CliOptions::help},       {"-h", 0, &CliOptions::help},
    {"--version", 0, &CliOptions::version}, {"--korean", 0, &CliOptions::korean},
    {"--hex", 0, &CliOptions::hex},         {"--quiet", 0, &CliOptions::quiet},
    {"-q", 0, &CliOptions::quiet},          {"--json", OPT_JSON, &CliOptions::json},
    {"--reverse", OPT_REVERSE, &CliOptions::reverse}, {"--flat", OPT_FLAT, &CliOptions::flat},
    {"--force", OPT_FORCE, &CliOptions::force},
};

bool applyValue(const std::string& name, const std::string& value, CliOptions& options, std::string& problem) {
    if (name == "--filter") {
        options.filter = value;
    } else if (name == "--sort") {
        if (value != "name" && value != "packed" && value != "size" && value != "offset") {
            problem = "--sort takes name, packed, size or offset, not '" + value + "'";
            return false;
        }
        options.sort = value;
    } else if (name == "-C") {
        options.targetDir = value;
    } else if (name == "-o") {
        options.outputPath = value;
    } else if (name == "--patch") {
        options.patchPath = value;
    } else if (name == "--level") {
        uint32_t level = 0;
        if (!parseNumber(value, level) || level > 9) {
            problem = "--level takes a number from 0 to 9, not '" + value + "'";
            return false;
        }
        options.level = int(level);
    } else if (name == "--ansi-codepage") {
        uint32_t codePage = 0;
        if (!parseNumber(value, codePage) || codePage == 0 || codePage > 65535) {
            problem = "--ansi-codepage takes a code page number, not '" + value + "'";
            return false;
        }
        options.ansiCodePage = codePage;
    }
    return true;
}

}  // namespace

const std::vector<CommandInfo>& commandTable() { return COMMANDS; }

const CommandInfo* findCommand(const std::string& name) {
    for (const CommandInfo& info : COMMANDS) {
        if (name == info.name) return &info;
    }
    return nullptr;
}

const char* globalOptionsHelp() { return GLOBAL_DETAILS; }

bool parseOptions(const std::vector<std::string>& argv, CliOptions& options, std::string& problem) {
    // Options given before the command are checked against it once it is known.
    std::vector<std::pair<std::string, uint32_t>> seen;
    bool operandsOnly = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& word = argv[i];
        const bool looksLikeOption = !operandsOnly && word.size() > 1 && word[0] == '-';
        if (!looksLikeOption) {
            if (options.command.empty()) {
                options.command = word;
            } else {
                options.args.push_back(word);
            }
            continue;
        }
        if (word == "--") {
            operandsOnly = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> inlineValue;
        if (const size_t equals = word.find('='); word.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = word.substr(0, equals);
            inlineValue = word.substr(equals + 1);
        }
        bool known = false;
        for (const ValueOption& option : VALUE_OPTIONS) {
            if (name != option.name) continue;
            known = true;
            std::string value;
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < argv.size()) {
                value = argv[++i];
            } else {
                problem = name + " needs a value";
                return false;
            }
            if (!applyValue(name, value, options, problem)) return false;
            seen.emplace_back(name, option.bit);
        }
        for (const FlagOption& option : FLAG_OPTIONS) {
            if (name != option.name) continue;
            if (inlineValue) {
                problem = name + " takes no value";
                return false;
            }
            known = true;
            options.*option.field = true;
            seen.emplace_back(name, option.bit);
        }
        if (!known) {
            problem = "unknown option '" + word + "'";
            return false;
        }
    }

    if (options.command.empty()) {
        if (options.help || options.version) return true;
        problem = "no command given";
        return false;
    }
    const CommandInfo* info = findCommand(options.command);
    if (!info) {
        problem = "unknown command '" + options.command + "'";
        return false;
    }
    for (const auto& [name, bit] : seen) {
        if (bit != 0 && (info->optionMask & bit) == 0) {
            problem = name + " does not apply to " + options.command;
            return false;
        }
    }
    if (options.help || options.version) return true;
    if (options.args.size() < info->minArgs) {
        problem = options.args.empty() ? "ARCHIVE is missing" : "an operand is missing";
        return false;
    }
    if (options.args.size() > info->maxArgs) {
        problem = "too many operands";
        return false;
    }
    if (options.command == "extract" && options.outputPath) {
        if (options.args.size() != 2) {
            problem = "-o takes exactly one NAME";
            return false;
        }
        if (options.targetDir || options.flat) {
            problem = "-o does not go with -C or --flat";
            return false;
        }
    }
    return true;
}
