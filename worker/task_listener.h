#pragma once
#include <cstdint>
#include <memory>

#include "archive/base/failure_reason.h"
#include "archive/base/outcome.h"
#include "worker/task_args.h"

// How a task ended: its outcome, and its record handed back (a repack's carries the archive the
// caller continues with).
struct TaskCompletion {
    uint32_t code = 0;
    Outcome outcome;
    std::unique_ptr<TaskArgs> args;
    // Items the task left out or failed on the way; a task can succeed with some.
    uint64_t itemFailures = 0;
};

// Whoever shows a task's progress: the window, the console, the tests' recorder. Every call comes
// on the thread that runs the task, in this order: started, then total, status, progress and
// item failures as they happen, then finished (from the worker only).
class TaskListener {
public:
    virtual ~TaskListener() = default;
    virtual void taskStarted(uint32_t code) = 0;
    virtual void taskTotal(uint64_t bytes) = 0;
    // The text lives until the call returns.
    virtual void taskStatus(const char16_t* text) = 0;
    // False while status texts would reach no one (see ProgressSink::wantsStatus).
    virtual bool wantsStatus() const { return true; }
    // Bytes done of the total, absolute.
    virtual void taskProgress(uint64_t done) = 0;
    // One item was left out or failed, and why; the task goes on. The reason lives until the call returns.
    virtual void itemFailed(const FailureReason& reason) = 0;
    // The worker's last call of a task: the listener takes the completion over.
    virtual void taskFinished(TaskCompletion completion) = 0;
};
