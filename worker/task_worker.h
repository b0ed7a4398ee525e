#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "archive/progress_sink.h"
#include "archive/result_codes.h"
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
// A task procedure: runs one task from WM_TASK_STARTED to WM_TASK_FINISHED, reading currentArgs.
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
    std::unique_ptr<TaskArgs> taskArgs;
    uint64_t progressDone = 0;
    uint64_t progressTotal = 0;

    // Procedures by task code; index 0 is unused. Tests install probes here.
    std::array<TaskProcedure, TASK_CODE_COUNT> procedures{};

    // Starts the thread; false when it cannot be created.
    bool start();
    // Window thread: lowers the run counter and waits for the thread to end.
    void stop();
    // Window thread: stores the code and the record, then signals. A record handed over before
    // the worker took the previous one replaces it.
    void startTask(uint32_t code, std::unique_ptr<TaskArgs> args);

    // Worker thread: the first message of every task.
    void sendStarted(uint32_t code);
    void reportStatus(const char16_t* text) override;
    void reportProgress(uint32_t bytes, bool commit) override;
    // Sends WM_TASK_ITEM_FAILED and counts the item for the running task.
    void reportItemFailure(const FailureReason& reason) override;
    // Items the running task left out or failed so far.
    uint64_t itemFailures = 0;
    // Sends progressTotal as WM_TASK_TOTAL.
    void sendTotal();

    void addDirectoryTree(AddDirectoryArgs& args, size_t prefixLength, const std::u16string& directory);

    // The task the loop is running, as taken once after the signal; finishTask releases its record.
    uint32_t currentCode = 0;
    std::unique_ptr<TaskArgs> currentArgs;
    // Set by finishTask: the loop then knows the window has its WM_TASK_FINISHED.
    bool finishPosted = false;

private:
    // A signal with a code the worker ignores gives no message back, so nothing else orders the
    // window's next write of taskCode/taskArgs after the worker's read.
    std::mutex taskLock;

    void workerMain();
    void runTask(uint32_t code, std::unique_ptr<TaskArgs> args);
};

// The wait of an idle worker: bounds how late it notices stop().
constexpr uint32_t WAKE_TIMEOUT_MS = 100;

// The result a task gets when it ended by an exception (an allocation failure, most likely,
// which zlib would report the same way).
constexpr int RESULT_TASK_ABORTED = RESULT_BAD_DATA;

// Ends the running task: posts WM_TASK_FINISHED (code, result) and releases the record. A
// RecompressArgs record instead gets `result` in its `error` and travels as the message's lParam;
// the window takes it over. Call it once, as the task's last step.
void finishTask(TaskWorker& worker, uint32_t code, intptr_t result);

// The procedure table of the real program.
void installTaskProcedures(TaskWorker& worker);
