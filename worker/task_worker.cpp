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

TaskWorker::TaskWorker(TaskListener& listener) : listener(listener) {
    for (uint32_t code = 1; code < TASK_CODE_COUNT; ++code) procedures[code] = taskProcedureOf(code);
}

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

void TaskWorker::setProcedure(uint32_t code, TaskProcedure procedure) {
    if (code < TASK_CODE_COUNT) procedures[code] = procedure;
}

uint32_t TaskWorker::takeHandedOverTask(std::unique_ptr<TaskArgs>* record) {
    const std::lock_guard lock(taskLock);
    const uint32_t code = std::exchange(taskCode, 0);
    std::unique_ptr<TaskArgs> taken = std::move(taskArgs);
    if (record != nullptr) *record = std::move(taken);
    return code;
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
        if (code == 0 || code >= TASK_CODE_COUNT || procedures[code] == nullptr || args == nullptr) {
            continue;
        }
        listener.taskFinished(performTask(code, std::move(args), procedures[code], listener));
    }
}
