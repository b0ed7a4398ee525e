#pragma once
#include <shared_mutex>

namespace platform {

#ifdef _WIN32
// A reader-writer lock that holds on Windows too. MinGW's std::shared_mutex rests on winpthreads'
// rwlock, which can let a reader through without holding anything while a writer takes it from
// another thread; the system's slim reader-writer lock does not. Meets the SharedMutex
// requirements, so std::shared_lock and std::unique_lock work with it as they do elsewhere.
class SharedMutex {
public:
    SharedMutex() = default;
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    void lock();
    bool try_lock();
    void unlock();
    void lock_shared();
    bool try_lock_shared();
    void unlock_shared();

private:
    void* slimLock = nullptr;  // an SRWLOCK: one pointer, all zero when free
};
#else
using SharedMutex = std::shared_mutex;
#endif

}  // namespace platform
