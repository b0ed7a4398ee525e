#include "ui/window_listener.h"

#include <memory>
#include <utility>

#include "ui/window_messages.h"

namespace {

// A person reads a few updates a second. A message for each of 100,000 small entries costs more
// than the entries themselves: a sent status waits for the window every time (under Wine a round
// trip to its server), and posted progress would crowd the window's queue.
constexpr auto UPDATE_INTERVAL = std::chrono::milliseconds(100);

}  // namespace

// Sent, where the window must have handled the report before the task goes on: the texts and
// reasons live on the worker's stack, and the total must reach the bar before any progress.

void WindowListener::taskStarted(uint32_t code) {
    lastStatus = lastProgress = {};
    statusHeld = false;
    SendMessageW(window, WM_TASK_STARTED, code, 0);
}

void WindowListener::taskTotal(uint64_t bytes) {
    total = bytes;
    lastProgress = {};
    SendMessageW(window, WM_TASK_TOTAL, highHalf(bytes), static_cast<LPARAM>(lowHalf(bytes)));
}

// A status that comes too soon after the last is held back and shown with the next progress
// once its time has come, so a long entry after many short ones is still named while it runs.
void WindowListener::taskStatus(const char16_t* text) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastStatus < UPDATE_INTERVAL) {
        heldStatus.assign(text != nullptr ? text : u"");
        statusHeld = true;
        return;
    }
    lastStatus = now;
    statusHeld = false;
    SendMessageW(window, WM_TASK_STATUS, reinterpret_cast<WPARAM>(text), 0);
}

void WindowListener::sendHeldStatus() {
    const auto now = std::chrono::steady_clock::now();
    if (!statusHeld || now - lastStatus < UPDATE_INTERVAL) return;
    lastStatus = now;
    statusHeld = false;
    SendMessageW(window, WM_TASK_STATUS, reinterpret_cast<WPARAM>(heldStatus.c_str()), 0);
}

// Every report counts in `done`, which is absolute: one skipped loses nothing, and the one that
// reaches the total always goes.
void WindowListener::taskProgress(uint64_t done) {
    sendHeldStatus();
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - lastProgress < UPDATE_INTERVAL) return;
    lastProgress = now;
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
