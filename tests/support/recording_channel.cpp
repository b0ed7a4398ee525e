#include "tests/support/recording_channel.h"

#include "worker/task_messages.h"

RecordingChannel::RecordingChannel() : pumpThread([this] { pump(); }) {}

RecordingChannel::~RecordingChannel() {
    {
        const std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    pumpThread.join();
}

intptr_t RecordingChannel::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    bool handled = false;
    std::unique_lock lock(mutex);
    queue.push_back({{message, wParam, lParam, true, {}, {}}, &handled});
    changed.notify_all();
    changed.wait(lock, [&] { return handled; });
    return 0;
}

void RecordingChannel::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    const std::lock_guard lock(mutex);
    queue.push_back({{message, wParam, lParam, false, {}, {}}, nullptr});
    changed.notify_all();
}

void RecordingChannel::pump() {
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || !queue.empty(); });
        if (queue.empty()) {
            return;  // stopping, and everything queued was handled
        }
        Pending pending = std::move(queue.front());
        queue.pop_front();
        RecordedMessage& message = pending.message;
        // The sender is still blocked in send(), so its text is alive while we copy it.
        if (message.message == WM_TASK_STATUS && message.wParam != 0) {
            message.text = reinterpret_cast<const char16_t*>(message.wParam);
        }
        if (message.message == WM_TASK_ITEM_FAILED && message.lParam != 0) {
            message.reason = *reinterpret_cast<const FailureReason*>(message.lParam);
            message.text = message.reason.subject;
        }
        recorded.push_back(message);
        // The handler runs unlocked, as the window's would, while a sender still waits.
        lock.unlock();
        if (onMessage) {
            onMessage(message);
        }
        lock.lock();
        if (message.message == WM_TASK_FINISHED) {
            ++finishedCount;
        }
        if (pending.handled != nullptr) {
            *pending.handled = true;
        }
        changed.notify_all();
    }
}

bool RecordingChannel::waitForFinished(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return finishedCount >= count; });
}

std::vector<RecordedMessage> RecordingChannel::messages() const {
    const std::lock_guard lock(mutex);
    return recorded;
}

std::string describe(const RecordedMessage& message) {
    std::string line = std::to_string(message.message) + "(" + std::to_string(message.wParam) + ", " +
                       std::to_string(message.lParam) + ")";
    if (!message.text.empty()) {
        line += " \"";
        for (const char16_t unit : message.text) {
            line += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        line += "\"";
    }
    return line;
}

std::string describe(const std::vector<RecordedMessage>& messages) {
    std::string lines;
    for (const auto& message : messages) {
        lines += describe(message) + "\n";
    }
    return lines;
}
