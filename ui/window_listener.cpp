#include "ui/window_listener.h"

#include <memory>
#include <utility>

#include "ui/window_messages.h"

// Sent, where the window must have handled the report before the task goes on: the texts and
// reasons live on the worker's stack, and the total must reach the bar before any progress.

void WindowListener::taskStarted(uint32_t code) {
    SendMessageW(window, WM_TASK_STARTED, code, 0);
}

void WindowListener::taskTotal(uint64_t bytes) {
    SendMessageW(window, WM_TASK_TOTAL, highHalf(bytes), static_cast<LPARAM>(lowHalf(bytes)));
}

void WindowListener::taskStatus(const char16_t* text) {
    SendMessageW(window, WM_TASK_STATUS, reinterpret_cast<WPARAM>(text), 0);
}

void WindowListener::taskProgress(uint64_t done) {
    PostMessageW(window, WM_TASK_PROGRESS, highHalf(done), static_cast<LPARAM>(lowHalf(done)));
}

void WindowListener::itemFailed(const FailureReason& reason) {
    SendMessageW(window, WM_TASK_ITEM_FAILED, 0, reinterpret_cast<LPARAM>(&reason));
}

void WindowListener::taskFinished(TaskCompletion completion) {
    // Posted, so it arrives after every progress posted before it; the window takes it over.
    auto owned = std::make_unique<TaskCompletion>(std::move(completion));
    const uint32_t code = owned->code;
    if (PostMessageW(window, WM_TASK_FINISHED, code, reinterpret_cast<LPARAM>(owned.get()))) owned.release();
}
