#pragma once
#include <windows.h>

#include <chrono>
#include <string>

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
    // Sends the status held back, if any.
    void sendHeldStatus();

    HWND window;
    // What was shown last, and when; a status that came meanwhile waits in `heldStatus`.
    uint64_t total = 0;
    std::chrono::steady_clock::time_point lastStatus{};
    std::chrono::steady_clock::time_point lastProgress{};
    std::u16string heldStatus;
    bool statusHeld = false;
};
