#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "archive/base/failure_reason.h"
#include "worker/task_listener.h"

enum class Report { STARTED, TOTAL, STATUS, PROGRESS, ITEM_FAILED, FINISHED };

// One report as the listener got it, copied while the call lasted (the worker's texts and
// reasons are gone afterwards). `value` is the task code, the total or the bytes done.
struct RecordedReport {
    Report kind = Report::STARTED;
    uint64_t value = 0;
    std::u16string text;   // the status, or the failed item's subject
    FailureReason reason;  // the failed item's, or the finished task's failure
};

// Records every report in order, from whichever thread runs the task; the completions of
// finished tasks are kept for the test to look at.
class RecordingListener : public TaskListener {
public:
    void taskStarted(uint32_t code) override;
    void taskTotal(uint64_t bytes) override;
    void taskStatus(const char16_t* text) override;
    void taskProgress(uint64_t done) override;
    void itemFailed(const FailureReason& reason) override;
    void taskFinished(TaskCompletion completion) override;

    // Runs for every report, after it is recorded, on the task's thread.
    std::function<void(const RecordedReport&)> onReport;

    // Waits until `count` tasks have finished; false on time-out (only a hung worker reaches it).
    bool waitForFinished(size_t count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(60));
    std::vector<RecordedReport> reports() const;
    // The completions in the order the tasks finished; moved out.
    std::vector<TaskCompletion> takeCompletions();

private:
    void record(RecordedReport report);

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<RecordedReport> recorded;
    std::vector<TaskCompletion> completions;
    size_t finishedCount = 0;
};

// A readable line for a failed expectation: "TOTAL 100" and the like.
std::string describe(const RecordedReport& report);
std::string describe(const std::vector<RecordedReport>& reports);
