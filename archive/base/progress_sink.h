#pragma once
#include <cstdint>

#include "archive/base/failure_reason.h"

// Where archive operations report what they are doing; the task worker is the real one.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // The text only has to live until the call returns.
    virtual void reportStatus(const char16_t* text) = 0;
    // False while no one would see a status (a quiet console): a caller may then save making
    // the text, an entry's wide name decoded for nothing.
    virtual bool wantsStatus() const { return true; }
    // `bytes` of the current entry so far; `commit` once the entry is finished.
    virtual void reportProgress(uint32_t bytes, bool commit) = 0;
    // One item of a batch was left out or failed, and why; the batch goes on.
    virtual void reportItemFailure(const FailureReason& reason) { (void)reason; }
};
