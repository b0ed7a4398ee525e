#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "archive/progress_sink.h"
#include "worker/message_channel.h"
#include "worker/task_args.h"
#include "worker/task_messages.h"

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

class TaskWorker;
// A task procedure: runs one task from WM_TASK_STARTED to WM_TASK_FINISHED, reading taskArgs.
using TaskProcedure = void (*)(TaskWorker& worker);

// The one background thread that runs long operations, one at a time.
class TaskWorker : public ProgressSink {
public:
    explicit TaskWorker(MessageChannel& window);
    // Stops the thread if it still runs.
    ~TaskWorker() override;

    MessageChannel& window;
    std::thread thread;
    std::atomic<int32_t> running{1};
    AutoResetEvent wakeEvent;
    uint32_t taskCode = 0;
    void* taskArgs = nullptr;
    uint64_t progressDone = 0;
    uint64_t progressTotal = 0;

    // Procedures by task code; index 0 is unused. Tests install probes here.
    std::array<TaskProcedure, TASK_CODE_COUNT> procedures{};

    // Starts the thread; false when it cannot be created.
    bool start();
    // Window thread: lowers the run counter and waits for the thread to end.
    void stop();
    // Window thread: stores the code and the record, then signals.
    void startTask(uint32_t code, void* args);

    void reportStatus(const char16_t* text) override;
    void reportProgress(uint32_t bytes, bool commit) override;
    // Sends progressTotal as WM_TASK_TOTAL.
    void sendTotal();

    void addDirectoryTree(AddDirectoryArgs& args, size_t prefixLength, const std::u16string& directory);

private:
    void workerMain();
};

// The procedure table of the real program.
void installTaskProcedures(TaskWorker& worker);
