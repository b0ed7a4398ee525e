// The test programs' definitions of the platform's fault questions, in place of the shipped ones
// that allow everything: linked as an object, so the shipped file is never pulled in.
#include "tests/support/file_faults.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "platform/file_faults.h"

namespace {

std::mutex hookMutex;
std::function<bool()> writeFaultHook;
std::function<bool()> readFaultHook;
std::function<int(const std::u16string&, platform::ExclusiveFile::Mode)> openFaultHook;
// Asked on every file operation of every test: without a hook, no lock is taken.
std::atomic<bool> hasWriteFaultHook{false};
std::atomic<bool> hasReadFaultHook{false};
std::atomic<bool> hasOpenFaultHook{false};

}  // namespace

namespace platform::file_faults {

bool readAllowed() {
    if (!hasReadFaultHook.load(std::memory_order_acquire)) return true;
    const std::lock_guard lock(hookMutex);
    return !readFaultHook || readFaultHook();
}

bool writeAllowed() {
    if (!hasWriteFaultHook.load(std::memory_order_acquire)) return true;
    const std::lock_guard lock(hookMutex);
    return !writeFaultHook || writeFaultHook();
}

int openFault(const std::u16string& path, ExclusiveFile::Mode mode) {
    if (!hasOpenFaultHook.load(std::memory_order_acquire)) return 0;
    const std::lock_guard lock(hookMutex);
    return openFaultHook ? openFaultHook(path, mode) : 0;
}

}  // namespace platform::file_faults

void setWriteFaultHook(std::function<bool()> hook) {
    const std::lock_guard lock(hookMutex);
    hasWriteFaultHook.store(static_cast<bool>(hook), std::memory_order_release);
    writeFaultHook = std::move(hook);
}

void setReadFaultHook(std::function<bool()> hook) {
    const std::lock_guard lock(hookMutex);
    hasReadFaultHook.store(static_cast<bool>(hook), std::memory_order_release);
    readFaultHook = std::move(hook);
}

void setOpenFaultHook(std::function<int(const std::u16string& path, platform::ExclusiveFile::Mode mode)> hook) {
    const std::lock_guard lock(hookMutex);
    hasOpenFaultHook.store(static_cast<bool>(hook), std::memory_order_release);
    openFaultHook = std::move(hook);
}
