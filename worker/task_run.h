#pragma once
#include <cstdint>
#include <memory>

#include "archive/base/progress_sink.h"
#include "worker/task_listener.h"

// One task's reports to its listener: the archive operations see it as their ProgressSink, and
// it keeps the byte counts the listener is told.
class TaskRun final : public ProgressSink {
public:
    explicit TaskRun(TaskListener& listener) : listener(listener) {}

    // Sets the total and the bytes done back to 0, and tells the listener.
    void announceTotal(uint64_t total);
    void reportStatus(const char16_t* text) override;
    bool wantsStatus() const override { return listener.wantsStatus(); }
    void reportProgress(uint32_t bytes, bool commit) override;
    void reportItemFailure(const FailureReason& reason) override;

    uint64_t itemFailures() const { return failures; }
    uint64_t progressDone() const { return done; }
    uint64_t progressTotal() const { return total; }

private:
    TaskListener& listener;
    uint64_t done = 0;
    uint64_t total = 0;
    uint64_t failures = 0;
};

// A task procedure: runs the task of its code over `args`, reporting to `run`.
using TaskProcedure = Outcome (*)(TaskArgs& args, TaskRun& run);

// The procedure of each task code (1 to 7), null for any other code.
TaskProcedure taskProcedureOf(uint32_t code);

// Runs one task on the calling thread: taskStarted, the procedure, and the completion, which is
// returned (taskFinished is the caller's to call). Whatever escapes the procedure ends the task
// with a failure that says what it was: std::bad_alloc is "out of memory".
TaskCompletion performTask(uint32_t code, std::unique_ptr<TaskArgs> args, TaskProcedure procedure,
                           TaskListener& listener);
