#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "worker/task_args.h"
#include "worker/task_listener.h"
#include "worker/task_codes.h"
#include "worker/task_run.h"

// Auto-reset event: one signal wakes one wait, and a signal given while nobody waits is kept.
class AutoResetEvent {
public:
    void signal();
    // True when signalled within `timeoutMs` (the signal is consumed).
    bool wait(uint32_t timeoutMs);

private:
    std::mutex mutex;
    std::condition_variable condition;
    bool signalled = false;
};

// The one background thread that runs long operations, one at a time, for the window.
class TaskWorker {
public:
    explicit TaskWorker(TaskListener& listener);
    // Stops the thread if it still runs.
    ~TaskWorker();
    TaskWorker(const TaskWorker&) = delete;
    TaskWorker& operator=(const TaskWorker&) = delete;

    // Starts the thread; false when it cannot be created.
    bool start();
    // Lowers the run counter and waits for the thread to end.
    void stop();
    // Stores the code and the record, then signals. A record handed over before the worker took
    // the previous one replaces it. A code without a procedure is ignored.
    void startTask(uint32_t code, std::unique_ptr<TaskArgs> args);
    // Tests run probes in place of the real procedures.
    void setProcedure(uint32_t code, TaskProcedure procedure);
    // Takes back a task handed over that the thread has not taken (tests, and a worker that
    // never started); 0 and no record when there is none.
    uint32_t takeHandedOverTask(std::unique_ptr<TaskArgs>* record);

private:
    void workerMain();

    TaskListener& listener;
    std::thread thread;
    std::atomic<int32_t> running{1};
    AutoResetEvent wakeEvent;
    // A signal with a code the worker ignores gives no report back, so nothing else orders the
    // window's next hand-over after the worker's read.
    std::mutex taskLock;
    uint32_t taskCode = 0;
    std::unique_ptr<TaskArgs> taskArgs;
    std::array<TaskProcedure, TASK_CODE_COUNT> procedures{};
};

// The wait of an idle worker: bounds how late it notices stop().
constexpr uint32_t WAKE_TIMEOUT_MS = 100;
