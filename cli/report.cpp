#include "cli/report.h"

#include <cstdio>
#include <cstring>

#include "archive/result_codes.h"
#include "cli/console_io.h"
#include "cli/text.h"

const char* explainResult(int code) {
    switch (code) {
    case RESULT_INVALID_ARCHIVE: return "not an archive, too short or wrong magic";
    case RESULT_BAD_VERSION: return "the archive's version is not supported";
    case RESULT_BAD_LENGTH: return "the archive is too short for a position it names";
    case RESULT_TABLE_SHORT: return "the file table is incomplete or malformed";
    case RESULT_BAD_DATA: return "compressed data are damaged, or compressing failed";
    case RESULT_OPEN_FAILED: return "a file could not be opened or created, or the name is unsafe";
    default: return "";
    }
}

void reportError(int code, const std::string& explanation) {
    std::string text;
    if (code > 0) {
        text = std::strerror(code);
    } else {
        const char16_t* message = resultText(code);
        text = utf16ToUtf8(message ? message : u"");
    }
    std::string line = "quarnel-cli: error " + std::to_string(code) + ": " + text;
    if (!explanation.empty()) line += " (" + explanation + ")";
    writeErr(line + "\n");
}

void reportFailure(const std::string& explanation) {
    writeErr("quarnel-cli: error: " + explanation + "\n");
}

void reportUsage(const std::string& problem, const std::string& command) {
    const std::string help = command.empty() ? "quarnel-cli --help" : "quarnel-cli " + command + " --help";
    writeErr("quarnel-cli: error: " + problem + " (see '" + help + "')\n");
}

void reportResult(int code, const std::string& context) {
    std::string explanation = context;
    const std::string reason = code > 0 ? "" : explainResult(code);
    if (!reason.empty()) explanation += explanation.empty() ? reason : ": " + reason;
    reportError(code, explanation);
}
