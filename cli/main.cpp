#include "cli/main.h"

#include <exception>
#include <new>

#include "cli/console_io.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/session.h"
#include "platform/code_page.h"

namespace {

void printProgramHelp() {
    std::string text = "Usage: quarnel-cli COMMAND ARCHIVE [OPERANDS] [OPTIONS]\n\nCommands:\n";
    for (const CommandInfo& info : commandTable()) {
        std::string name = info.name;
        name.resize(10, ' ');
        text += std::string("  ") + name + info.summary + "\n";
    }
    text += "\n";
    text += globalOptionsHelp();
    text += "\n'quarnel-cli COMMAND --help' describes one command.\n"
            "Exit status: 0 success, 1 a failed operation, 2 a usage error.\n";
    writeOut(text);
}

void printCommandHelp(const CommandInfo& info) {
    std::string text = std::string("Usage: quarnel-cli ") + info.name + " " + info.usage + "\n\n" +
                       info.summary + ".\n";
    if (*info.details) text += std::string("\n") + info.details;
    text += "\n";
    text += globalOptionsHelp();
    writeOut(text);
}

int dispatch(const CliOptions& options) {
    if (options.ansiCodePage && !platform::setAnsiCodePage(*options.ansiCodePage)) {
        reportUsage("code page " + std::to_string(*options.ansiCodePage) + " is not supported", options.command);
        return EXIT_USAGE;
    }
    Session session(options);
    if (const CommandInfo* info = findCommand(options.command)) return info->run(session);
    reportUsage("unknown command '" + options.command + "'", "");
    return EXIT_USAGE;
}

}  // namespace

int runCli(const std::vector<std::string>& arguments) {
    prepareConsole();
    CliOptions options;
    std::string problem;
    if (!parseOptions(arguments, options, problem)) {
        reportUsage(problem, findCommand(options.command) ? options.command : "");
        return EXIT_USAGE;
    }
    if (options.version) {
        writeOut("quarnel-cli " QUARNEL_VERSION "\n");
        return EXIT_OK;
    }
    if (options.help) {
        if (const CommandInfo* info = findCommand(options.command)) {
            printCommandHelp(*info);
        } else {
            printProgramHelp();
        }
        return EXIT_OK;
    }
    // Ordinary failures are result codes; this only keeps an exhausted memory from
    // ending the program without a word.
    try {
        const int status = dispatch(options);
        // Output that never arrived (a full disk, a closed pipe) is a failure the caller must see.
        if (const int error = closeOut(); error != 0) {
            reportError(error, "cannot write standard output");
            return EXIT_FAILED;
        }
        return status;
    } catch (const std::bad_alloc&) {
        reportFailure("out of memory");
    } catch (const std::exception& error) {
        reportFailure(error.what());
    }
    return EXIT_FAILED;
}
