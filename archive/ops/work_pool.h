#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <thread>
#include <vector>

#include "archive/base/failure_reason.h"
#include "platform/thread_sync.h"

// One piece of work for the pool. The submitter keeps it alive until it has finished.
class WorkItem {
public:
    virtual ~WorkItem() = default;
    virtual void run() = 0;
    // Set by the pool once run() has returned.
    std::atomic<bool> finished{false};
    // run() ended by an exception: std::bad_alloc is "out of memory", anything else the program's
    // own failure. NONE when it returned.
    Cause thrown = Cause::NONE;
};

// A few threads that run submitted items in the order given. Only the thread that created the
// pool submits and waits; the destructor runs what is still queued, then joins.
class WorkPool {
public:
    // With 0 threads every item runs inside submit().
    explicit WorkPool(unsigned threads);
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;
    ~WorkPool();

    // One thread per core, at least one.
    static unsigned defaultThreads();
    unsigned threadCount() const { return unsigned(threads.size()); }

    void submit(WorkItem& item);
    // True once `item` has finished; false when `timeoutMs` passed first.
    bool wait(WorkItem& item, uint32_t timeoutMs);
    // Returns once `item` has finished.
    void wait(WorkItem& item);

private:
    void threadMain();
    static void runGuarded(WorkItem& item);
    void finish(WorkItem& item);

    // The system's own where std's would be slow (see platform/thread_sync.h).
    platform::Mutex lock;
    platform::Condition queued;
    platform::Condition done;
    std::deque<WorkItem*> queue;
    // The item the submitting thread is waiting for, if it is waiting.
    WorkItem* awaited = nullptr;
    bool stopping = false;
    std::vector<std::thread> threads;
};
