#pragma once
#include <windows.h>

#include "worker/task_listener.h"

// The worker's reports carried to the main dialog's thread as its window messages.
class WindowListener final : public TaskListener {
public:
    explicit WindowListener(HWND window) : window(window) {}

    void taskStarted(uint32_t code) override;
    void taskTotal(uint64_t bytes) override;
    void taskStatus(const char16_t* text) override;
    void taskProgress(uint64_t done) override;
    void itemFailed(const FailureReason& reason) override;
    void taskFinished(TaskCompletion completion) override;

private:
    HWND window;
};
