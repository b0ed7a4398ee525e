#pragma once
#include <cstdint>
#include <functional>

#include "archive/base/failure_reason.h"
#include "cli/progress_bar.h"
#include "worker/task_listener.h"

// A task's reports on the terminal. The command runs the task on its own thread, so each report
// is handled as it comes.
class ConsoleListener final : public TaskListener {
public:
    explicit ConsoleListener(ProgressBar& bar) : bar(bar) {}

    void taskStarted(uint32_t code) override;
    void taskTotal(uint64_t bytes) override;
    void taskStatus(const char16_t* text) override;
    bool wantsStatus() const override { return onStatus || (showStatus && bar.isEnabled()); }
    void taskProgress(uint64_t done) override;
    void itemFailed(const FailureReason& reason) override;
    // The command takes the completion from performTask itself; this only ends the bar.
    void taskFinished(TaskCompletion completion) override;

    // Called with every status text, so the command may look at the task's archive.
    std::function<void(const char16_t* text)> onStatus;
    // Off: status texts do not reach the progress bar (the command shows its own).
    bool showStatus = true;
    // Called with each item a task left out or failed.
    std::function<void(const FailureReason& reason)> onItemFailed;
    // Called with every progress report; tests stop the tool there.
    std::function<void()> onProgress;

private:
    ProgressBar& bar;
};
