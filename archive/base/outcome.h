#pragma once
#include <utility>

#include "archive/base/failure_reason.h"

// What an operation that can fail answers: success, or the whole reason it failed. The reason
// travels with the answer, so there is nothing to fetch from the side afterwards; dropping it
// unread does not compile in the core.
class [[nodiscard]] Outcome {
public:
    Outcome() = default;  // success
    // A reason that names no failure (no code, no cause) is a success.
    Outcome(FailureReason reason) : why(std::move(reason)) {}  // NOLINT: `return systemFailure(...)` reads best

    bool ok() const { return !why.failed(); }
    explicit operator bool() const { return ok(); }
    // The result code the window turns into one of its texts; 0 on success.
    int code() const { return why.code; }
    const FailureReason& reason() const { return why; }
    FailureReason&& takeReason() && { return std::move(why); }

private:
    FailureReason why;
};
