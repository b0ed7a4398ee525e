#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/failure_reason.h"
#include "worker/message_channel.h"

// One message as the window thread handled it. `text` is the status text (or the failed item's
// subject) and `reason` the failed item's reason, copied while the message was handled (the
// worker's buffer is gone afterwards).
struct RecordedMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    bool sent = false;
    std::u16string text;
    FailureReason reason;
};

// Stands in for the window: its own thread pumps one queue, in call order, and records each
// message. send() returns only after the pump has handled the message, as SendMessageW does.
class RecordingChannel : public MessageChannel {
public:
    RecordingChannel();
    ~RecordingChannel() override;
    RecordingChannel(const RecordingChannel&) = delete;
    RecordingChannel& operator=(const RecordingChannel&) = delete;

    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // Runs on the pump thread for every message, after it is recorded. Set it before the worker starts.
    std::function<void(const RecordedMessage&)> onMessage;

    // Waits until `count` WM_TASK_FINISHED messages have been handled; false on time-out.
    bool waitForFinished(size_t count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The messages handled so far, in order.
    std::vector<RecordedMessage> messages() const;

private:
    struct Pending {
        RecordedMessage message;
        bool* handled = nullptr;  // set for a send: the sender waits on it
    };

    void pump();

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Pending> queue;
    std::vector<RecordedMessage> recorded;
    size_t finishedCount = 0;
    bool stopping = false;
    std::thread pumpThread;
};

// A readable line for a failed expectation: "1023(4, 0)" and the like.
std::string describe(const RecordedMessage& message);
std::string describe(const std::vector<RecordedMessage>& messages);
