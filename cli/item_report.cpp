#include "cli/item_report.h"

#include "archive/format/entry_name.h"
#include "cli/console_io.h"
#include "cli/json_out.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"

namespace {

std::string withThousands(uint64_t value) {
    std::string digits = std::to_string(value);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

}  // namespace

ItemReport::ItemReport(Session& session, std::string verb, std::string jsonKey)
    : session(session), outer(std::move(session.listener.onItemFailed)), verb(std::move(verb)), jsonKey(std::move(jsonKey)) {
    session.listener.onItemFailed = [this](const FailureReason& reason) { take(reason); };
}

ItemReport::~ItemReport() {
    session.listener.onItemFailed = std::move(outer);
}

void ItemReport::summarize(uint64_t done, const std::string& doneWord, const std::string& countWord) const {
    if (count == 0) return;
    writeErr(withThousands(done) + " " + doneWord + ", " + withThousands(count) + " " + countWord + "\n");
}

void ItemReport::useVerbFor(Cause cause, std::string verb) {
    otherCause = cause;
    otherVerb = std::move(verb);
}

void ItemReport::take(const FailureReason& reason) {
    ++count;
    std::string cause = causeText(reason);
    if (cause.empty()) cause = explainResult(reason.code);
    const bool other = otherCause != Cause::NONE && reason.cause == otherCause;
    std::string line = (other ? otherVerb : verb) + " " + shownSubject(reason) + ": " + cause;
    // The Korean name form holds what the ANSI code page cannot, for most such trees.
    if (reason.cause == Cause::NAME_NOT_ENCODABLE && !session.options.korean && encodeEntryName(reason.subject, true)) {
        line += " (use --korean)";
    }
    writeErr(escapeControls("quarnel-cli: " + line) + "\n");
    if (session.options.json) {
        writeOut("{\"" + jsonKey + "\":" + jsonString(escapeStrayBytes(shownSubject(reason))) + ",\"reason\":" + jsonString(cause) +
                 ",\"code\":" + std::to_string(reason.code) + ",\"systemError\":" + std::to_string(reason.systemError) +
                 "}\n");
    }
}
