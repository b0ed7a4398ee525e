#include "platform/thread_sync.h"

#include <windows.h>

namespace platform {
namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "an SRWLOCK is one pointer");
static_assert(sizeof(CONDITION_VARIABLE) == sizeof(void*), "a CONDITION_VARIABLE is one pointer");

PSRWLOCK slim(void*& storage) { return reinterpret_cast<PSRWLOCK>(&storage); }
PCONDITION_VARIABLE condition(void*& storage) { return reinterpret_cast<PCONDITION_VARIABLE>(&storage); }

}  // namespace

void Mutex::lock() { AcquireSRWLockExclusive(slim(slimLock)); }
bool Mutex::try_lock() { return TryAcquireSRWLockExclusive(slim(slimLock)) != 0; }
void Mutex::unlock() { ReleaseSRWLockExclusive(slim(slimLock)); }

void Condition::notify_one() { WakeConditionVariable(condition(variable)); }
void Condition::notify_all() { WakeAllConditionVariable(condition(variable)); }

void Condition::sleep(Mutex& mutex, uint32_t ms) {
    // A timeout or a spurious wake-up alike: the caller looks at its predicate again.
    SleepConditionVariableSRW(condition(variable), slim(mutex.slimLock), ms == UINT32_MAX ? INFINITE : DWORD(ms), 0);
}

}  // namespace platform
