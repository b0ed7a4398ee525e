#include "archive/ops/work_pool.h"

#include <chrono>
#include <exception>
#include <new>

WorkPool::WorkPool(unsigned threadCount) {
    // A thread that cannot be started (no memory, no system resources) leaves the pool smaller;
    // with none, submit() runs each item itself. Letting the exception out would destroy the
    // threads already running, which ends the program.
    try {
        threads.reserve(threadCount);
        for (unsigned i = 0; i < threadCount; ++i) {
            threads.emplace_back([this] { threadMain(); });
        }
    } catch (const std::exception&) {
    }
}

WorkPool::~WorkPool() {
    {
        const std::lock_guard guard(lock);
        stopping = true;
    }
    queued.notify_all();
    for (std::thread& thread : threads) {
        thread.join();
    }
}

unsigned WorkPool::defaultThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

void WorkPool::submit(WorkItem& item) {
    if (threads.empty()) {
        runGuarded(item);
        finish(item);
        return;
    }
    {
        const std::lock_guard guard(lock);
        queue.push_back(&item);
    }
    queued.notify_one();
}

bool WorkPool::wait(WorkItem& item, uint32_t timeoutMs) {
    std::unique_lock guard(lock);
    awaited = &item;
    const bool finished =
        done.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&item] { return item.finished.load(); });
    awaited = nullptr;
    return finished;
}

void WorkPool::wait(WorkItem& item) {
    std::unique_lock guard(lock);
    awaited = &item;
    done.wait(guard, [&item] { return item.finished.load(); });
    awaited = nullptr;
}

void WorkPool::runGuarded(WorkItem& item) {
    // An exception must not end a pool thread (and with it the program); the item keeps the
    // results of a failure, which its owner reports as for any failed entry.
    try {
        item.run();
    } catch (const std::bad_alloc&) {
        item.thrown = Cause::OUT_OF_MEMORY;
    } catch (...) {
        item.thrown = Cause::INTERNAL_ERROR;
    }
}

void WorkPool::finish(WorkItem& item) {
    // Set under the lock, so a waiter between its check and its sleep cannot miss the signal.
    bool awaitedNow = false;
    {
        const std::lock_guard guard(lock);
        item.finished = true;
        awaitedNow = awaited == &item;
    }
    // Only the item waited for wakes the waiter: every wake-up costs a switch (and under Wine a
    // round trip to its server), and most items finish while the waiter is busy elsewhere.
    if (awaitedNow) {
        done.notify_one();
    }
}

void WorkPool::threadMain() {
    for (;;) {
        WorkItem* item = nullptr;
        {
            std::unique_lock guard(lock);
            queued.wait(guard, [this] { return stopping || !queue.empty(); });
            // Queued items still run when stopping: their owners may be waiting for them.
            if (queue.empty()) {
                return;
            }
            item = queue.front();
            queue.pop_front();
        }
        runGuarded(*item);
        finish(*item);
    }
}
