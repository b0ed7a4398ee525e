#include "cli/report.h"

#include <cstdio>
#include <cstring>

#include "archive/base/result_codes.h"
#include "cli/console_io.h"
#include "cli/text.h"
#include "platform/disk_ops.h"

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

std::string resultWords(int code) {
    switch (code) {
    case RESULT_INVALID_ARCHIVE: return "invalid archive";
    case RESULT_BAD_VERSION: return "unsupported version";
    case RESULT_BAD_LENGTH: return "bad length";
    case RESULT_TABLE_SHORT: return "damaged file table";
    case RESULT_BAD_DATA: return "damaged data";
    case RESULT_OPEN_FAILED: return "cannot open file";
    default: return "";
    }
}

void reportError(int code, const std::string& explanation) {
    // The command line speaks English; the window's texts stay in the window.
    const std::string text = code > 0 ? std::string(std::strerror(code)) : resultWords(code);
    std::string line = "quarnel-cli: error " + std::to_string(code) + ": " + text;
    if (!explanation.empty()) line += " (" + explanation + ")";
    // Names inside may hold anything; one line stays one line.
    writeErr(escapeControls(line) + "\n");
}

void reportFailure(const std::string& explanation) {
    writeErr(escapeControls("quarnel-cli: error: " + explanation) + "\n");
}

void reportWarning(const std::string& text) {
    writeErr(escapeControls("quarnel-cli: warning: " + text) + "\n");
}

void reportUsage(const std::string& problem, const std::string& command) {
    const std::string help = command.empty() ? "quarnel-cli --help" : "quarnel-cli " + command + " --help";
    writeErr(escapeControls("quarnel-cli: error: " + problem + " (see '" + help + "')") + "\n");
}

std::string shownSubject(const FailureReason& reason) {
    // A name of a disk file that is not UTF-8 keeps its bytes, for escapeControls to show them.
    return reason.subjectIsEntry ? platform::utf16ToUtf8KeepingBytes(reason.subject)
                                 : platform::nativePathUtf8(reason.subject);
}

namespace {

// "cannot write data\x.bmp"; "" when the reason names no operation.
std::string failedAction(const FailureReason& reason) {
    const std::string verb = operationWord(reason.operation);
    if (verb.empty()) return "";
    std::string action = "cannot " + verb;
    if (!reason.subject.empty()) action += " " + shownSubject(reason);
    return action;
}

}  // namespace

std::string explainReason(const FailureReason& reason) {
    std::string cause = causeText(reason);
    if (cause.empty()) cause = explainResult(reason.code);
    const std::string action = failedAction(reason);
    if (action.empty()) return cause;
    return cause.empty() ? action : action + ": " + cause;
}

void reportReason(const FailureReason& reason, const std::string& context) {
    if (reason.cause == Cause::NONE) {
        reportResult(reason.code, context);
        return;
    }
    const int shownCode = reason.systemError != 0 ? reason.systemError : reason.code;
    std::string explanation = context;
    const std::string action = failedAction(reason);
    // "cannot open x.grf" twice says nothing more.
    if (!action.empty() && action != context) explanation += explanation.empty() ? action : ": " + action;
    std::string line = "quarnel-cli: error " + std::to_string(shownCode) + ": " + causeText(reason);
    if (!explanation.empty()) line += " (" + explanation + ")";
    writeErr(escapeControls(line) + "\n");
}

void reportResult(int code, const std::string& context) {
    std::string explanation = context;
    const std::string reason = code > 0 ? "" : explainResult(code);
    if (!reason.empty()) explanation += explanation.empty() ? reason : ": " + reason;
    reportError(code, explanation);
}
