#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "archive/failure_reason.h"
#include "cli/progress_bar.h"
#include "worker/message_channel.h"

// The worker's messages for a console program. A console has no thread of its own to hand
// them to, so each message is handled at once on the thread that sends or posts it: that
// keeps their order, and a sent message is handled before send returns. The main thread
// only waits for WM_TASK_FINISHED.
class ConsoleChannel : public MessageChannel {
public:
    explicit ConsoleChannel(ProgressBar& bar) : bar(bar) {}

    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // Main thread: arms the channel for the next task; call before startTask.
    void expectTask();
    // Main thread: waits for WM_TASK_FINISHED of the task and answers its lParam.
    intptr_t waitFinished();

    // Called with every status text, on the worker thread while the worker waits for it,
    // so it may look at the task's archive.
    std::function<void(const char16_t* text)> onStatus;
    // Off: status texts do not reach the progress bar (the command shows its own).
    bool showStatus = true;
    // Called with each item a task left out or failed, on the worker thread.
    std::function<void(const FailureReason& reason)> onItemFailed;
    // Called on the worker thread right before the finish is handed to the main thread.
    std::function<void()> onFinished;
    // Tests only: the process stops itself at the next progress (where the system can), so
    // that a test can kill it in the middle of a task without a race.
    bool stopAtNextProgress = false;

private:
    void handle(uint32_t message, uintptr_t wParam, intptr_t lParam);

    ProgressBar& bar;
    std::mutex mutex;
    std::condition_variable finishedSignal;
    bool finished = false;
    intptr_t result = 0;
};
