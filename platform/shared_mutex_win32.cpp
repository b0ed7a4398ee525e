#include "platform/shared_mutex.h"

#include <windows.h>

namespace platform {
namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "an SRWLOCK is one pointer");

PSRWLOCK slim(void*& storage) { return reinterpret_cast<PSRWLOCK>(&storage); }

}  // namespace

void SharedMutex::lock() { AcquireSRWLockExclusive(slim(slimLock)); }
bool SharedMutex::try_lock() { return TryAcquireSRWLockExclusive(slim(slimLock)) != 0; }
void SharedMutex::unlock() { ReleaseSRWLockExclusive(slim(slimLock)); }
void SharedMutex::lock_shared() { AcquireSRWLockShared(slim(slimLock)); }
bool SharedMutex::try_lock_shared() { return TryAcquireSRWLockShared(slim(slimLock)) != 0; }
void SharedMutex::unlock_shared() { ReleaseSRWLockShared(slim(slimLock)); }

}  // namespace platform
