#include "cli/console_channel.h"

#include "cli/console_io.h"
#include "worker/task_messages.h"

intptr_t ConsoleChannel::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    handle(message, wParam, lParam);
    return 0;
}

void ConsoleChannel::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    handle(message, wParam, lParam);
}

void ConsoleChannel::expectTask() {
    const std::lock_guard<std::mutex> lock(mutex);
    finished = false;
    result = 0;
}

intptr_t ConsoleChannel::waitFinished() {
    std::unique_lock<std::mutex> lock(mutex);
    finishedSignal.wait(lock, [this] { return finished; });
    return result;
}

void ConsoleChannel::handle(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
    case WM_TASK_STARTED:
        bar.begin();
        break;
    case WM_TASK_STATUS: {
        const auto* text = reinterpret_cast<const char16_t*>(wParam);
        if (onStatus && text) onStatus(text);
        if (showStatus) bar.setStatus(text ? text : u"");
        break;
    }
    case WM_TASK_ITEM_FAILED: {
        const auto* reason = reinterpret_cast<const FailureReason*>(lParam);
        if (onItemFailed && reason) {
            bar.clear();
            onItemFailed(*reason);
        }
        break;
    }
    case WM_TASK_TOTAL:
        bar.setTotal(joinHalves(wParam, lParam));
        break;
    case WM_TASK_PROGRESS:
        if (stopAtNextProgress) {
            stopAtNextProgress = false;
            stopProcessForTest();
        }
        bar.setDone(joinHalves(wParam, lParam));
        break;
    case WM_TASK_FINISHED: {
        if (onFinished) onFinished();
        bar.end();
        const std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        result = lParam;
        finishedSignal.notify_all();
        break;
    }
    default:
        break;
    }
}
