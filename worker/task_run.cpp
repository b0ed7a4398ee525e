#include "worker/task_run.h"

#include <new>
#include <utility>

#include "archive/base/result_codes.h"

void TaskRun::announceTotal(uint64_t bytes) {
    done = 0;
    total = bytes;
    listener.taskTotal(bytes);
}

void TaskRun::reportStatus(const char16_t* text) {
    listener.taskStatus(text);
}

void TaskRun::reportProgress(uint32_t bytes, bool commit) {
    // Within an entry each report is absolute: the bytes before the entry plus the entry's own
    // count; only the commit makes that count part of `done`.
    const uint64_t reached = done + bytes;
    if (commit) done = reached;
    listener.taskProgress(reached);
}

void TaskRun::reportItemFailure(const FailureReason& reason) {
    ++failures;
    listener.itemFailed(reason);
}

// The one catch of the core: whatever escapes a procedure ends that task only, and the caller
// still gets its completion (else the window would stay busy for good).
TaskCompletion performTask(uint32_t code, std::unique_ptr<TaskArgs> args, TaskProcedure procedure,
                           TaskListener& listener) {
    TaskCompletion completion;
    completion.code = code;
    TaskRun run(listener);
    try {
        listener.taskStarted(code);
        completion.outcome = procedure(*args, run);
    } catch (const std::bad_alloc&) {
        completion.outcome = memoryFailure(RESULT_BAD_DATA, Operation::NONE);
    } catch (...) {
        completion.outcome = ruleFailure(RESULT_BAD_DATA, Operation::NONE, Cause::INTERNAL_ERROR, {});
    }
    completion.args = std::move(args);
    completion.itemFailures = run.itemFailures();
    return completion;
}
