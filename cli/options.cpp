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
