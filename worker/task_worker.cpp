#include "worker/task_worker.h"

#include <chrono>
#include <system_error>
#include <utility>

void AutoResetEvent::signal() {
    {
        const std::lock_guard lock(mutex);
        signalled = true;
    }
    condition.notify_one();
}

bool AutoResetEvent::wait(uint32_t timeoutMs) {
    std::unique_lock lock(mutex);
    if (!condition.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled; })) {
        return false;
    }
    signalled = false;
    return true;
}

TaskWorker::TaskWorker(MessageChannel& window) : window(window) {}

TaskWorker::~TaskWorker() {
    stop();
}

bool TaskWorker::start() {
    // The caller cannot go on without a worker; it says so and ends instead.
    try {
        thread = std::thread([this] { workerMain(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void TaskWorker::stop() {
    if (!thread.joinable()) {
        return;
    }
    running.fetch_sub(1);
    thread.join();
}

void TaskWorker::startTask(uint32_t code, std::unique_ptr<TaskArgs> args) {
    std::unique_ptr<TaskArgs> replaced;
    {
        const std::lock_guard lock(taskLock);
        taskCode = code;
        replaced = std::exchange(taskArgs, std::move(args));
    }
    wakeEvent.signal();
}

void TaskWorker::workerMain() {
    // The counter is tested before every wait, so an idle worker notices stop() within one time-out.
    while (running.load() > 0) {
        if (!wakeEvent.wait(WAKE_TIMEOUT_MS)) {
            continue;
        }
        uint32_t code = 0;
        std::unique_ptr<TaskArgs> args;
        {
            const std::lock_guard lock(taskLock);
            code = taskCode;
            args = std::move(taskArgs);
        }
        // A record of a code we ignore goes with `args`.
        if (code == 0 || code >= TASK_CODE_COUNT || procedures[code] == nullptr) {
            continue;
        }
        runTask(code, std::move(args));
    }
}

// The one catch of the core: whatever escapes a procedure ends that task only. The window still
// gets its WM_TASK_FINISHED (else it would stay busy for good) and the record is still released.
void TaskWorker::runTask(uint32_t code, std::unique_ptr<TaskArgs> args) {
    currentCode = code;
    currentArgs = std::move(args);
    finishPosted = false;
    try {
        procedures[code](*this);
    } catch (...) {
    }
    if (finishPosted) {
        return;
    }
    // Thrown before the procedure finished, or it returned without finishing.
    try {
        finishTask(*this, code, RESULT_TASK_ABORTED);
    } catch (...) {
        // The channel itself failed; nothing is left to tell the window with.
    }
}

void TaskWorker::sendStarted(uint32_t code) {
    itemFailures = 0;
    window.send(WM_TASK_STARTED, code, 0);
}

void TaskWorker::reportItemFailure(const FailureReason& reason) {
    ++itemFailures;
    // Sent: the reason lives on this thread's stack.
    window.send(WM_TASK_ITEM_FAILED, 0, reinterpret_cast<intptr_t>(&reason));
}

void TaskWorker::reportStatus(const char16_t* text) {
    // Sent, not posted: the text lives on this thread's stack and must outlast the window's handling.
    window.send(WM_TASK_STATUS, reinterpret_cast<uintptr_t>(text), 0);
}

void TaskWorker::reportProgress(uint32_t bytes, bool commit) {
    // Within an entry each report is absolute: the bytes before the entry plus the entry's own
    // count; only the commit makes that count part of progressDone.
    uint64_t done = progressDone + bytes;
    if (commit) {
        progressDone = done;
    }
    window.post(WM_TASK_PROGRESS, highHalf(done), static_cast<intptr_t>(lowHalf(done)));
}

void TaskWorker::sendTotal() {
    window.send(WM_TASK_TOTAL, highHalf(progressTotal), static_cast<intptr_t>(lowHalf(progressTotal)));
}

void finishTask(TaskWorker& worker, uint32_t code, intptr_t result) {
    std::unique_ptr<TaskArgs> record = std::move(worker.currentArgs);
    intptr_t lParam = result;
    // The recompress record goes back to the window, whatever code is posted.
    if (auto* const recompress = dynamic_cast<RecompressArgs*>(record.get())) {
        recompress->error = static_cast<int32_t>(result);
        record.release();
        lParam = reinterpret_cast<intptr_t>(recompress);
    }
    worker.window.post(WM_TASK_FINISHED, code, lParam);
    worker.finishPosted = true;
    // After the post: the window may already be reading a recompress record, but the others are
    // ours alone until `record` goes here.
}
