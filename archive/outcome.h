#pragma once
#include <optional>
#include <utility>

#include "archive/failure_reason.h"

// What an operation that can fail answers: success, or the whole reason it failed. The reason
// travels with the answer, so there is nothing to fetch from the side afterwards; dropping it
// unread does not compile in the core.
class [[nodiscard]] Outcome {
public:
    Outcome() = default;  // success
    // A reason that names no failure (no code, no cause) is a success.
    Outcome(FailureReason reason) : why(std::move(reason)) {}  // NOLINT: `return systemFailure(...)` reads best

    static Outcome success() { return {}; }

    bool ok() const { return !why.failed(); }
    explicit operator bool() const { return ok(); }
    // The result code the window turns into one of its texts; 0 on success.
    int code() const { return why.code; }
    const FailureReason& reason() const { return why; }
    FailureReason&& takeReason() && { return std::move(why); }

private:
    FailureReason why;
};

// A value, or the reason there is none.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : held(std::move(value)) {}  // NOLINT: implicit, as for Outcome
    Result(FailureReason reason) : why(std::move(reason)) {}  // NOLINT

    bool ok() const { return held.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() { return *held; }
    const T& operator*() const { return *held; }
    T* operator->() { return &*held; }
    const T* operator->() const { return &*held; }
    // The failure as an Outcome, to pass up whole.
    Outcome outcome() const { return ok() ? Outcome() : Outcome(why); }
    const FailureReason& reason() const { return why; }

private:
    std::optional<T> held;
    FailureReason why;
};
