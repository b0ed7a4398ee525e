#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

#ifdef _WIN32
// A mutex and a condition variable of the system's own (a slim reader-writer lock and a
// CONDITION_VARIABLE). MinGW's std::mutex and std::condition_variable rest on winpthreads, which
// waits on kernel events: under Wine every contended lock and every wake-up is a round trip to
// its server, and with the cores busy compressing that server is slow to answer, so two pool
// threads saved no faster than one. Only what the work pool needs.
class Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    bool try_lock();
    void unlock();

private:
    friend class Condition;
    void* slimLock = nullptr;  // an SRWLOCK: one pointer, all zero when free
};

class Condition {
public:
    Condition() = default;
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    void notify_one();
    void notify_all();

    template <typename Predicate>
    void wait(std::unique_lock<Mutex>& held, Predicate ready) {
        while (!ready()) sleep(*held.mutex(), UINT32_MAX);
    }
    // False when `timeout` passed with `ready` still false.
    template <typename Predicate>
    bool wait_for(std::unique_lock<Mutex>& held, std::chrono::milliseconds timeout, Predicate ready) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!ready()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return ready();
            sleep(*held.mutex(), uint32_t(left.count()));
        }
        return true;
    }

private:
    // Releases `mutex`, sleeps until woken or `ms` pass (UINT32_MAX: no limit), takes it again.
    void sleep(Mutex& mutex, uint32_t ms);
    void* variable = nullptr;  // a CONDITION_VARIABLE: one pointer, all zero when new
};
#else
using Mutex = std::mutex;
using Condition = std::condition_variable;
#endif

}  // namespace platform
