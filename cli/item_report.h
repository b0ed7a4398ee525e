#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "archive/base/failure_reason.h"

class Session;

// Names each item a task leaves out or fails as it happens: one line on standard error
// ("quarnel-cli: skipped data\x.txt: not representable in code page 1252 (use --korean)"), one
// JSON line with --json, and a closing count when anything was named.
class ItemReport {
public:
    // `verb` starts each line ("skipped", "cannot extract"); `jsonKey` names the item in JSON.
    ItemReport(Session& session, std::string verb, std::string jsonKey);
    ~ItemReport();
    ItemReport(const ItemReport&) = delete;
    ItemReport& operator=(const ItemReport&) = delete;

    uint64_t count = 0;

    // Lines for reasons of `cause` start with `otherVerb` instead ("left out" beside "cannot store").
    void useVerbFor(Cause cause, std::string otherVerb);

    // "19,998 added, 2 skipped" on standard error; nothing when nothing was named.
    void summarize(uint64_t done, const std::string& doneWord, const std::string& countWord) const;

private:
    void take(const FailureReason& reason);

    Session& session;
    // The report this one stands in for while it lives (a save's items within an add's).
    std::function<void(const FailureReason&)> outer;
    const std::string verb;
    const std::string jsonKey;
    Cause otherCause = Cause::NONE;
    std::string otherVerb;
};
