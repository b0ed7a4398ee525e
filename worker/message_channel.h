#pragma once
#include <cstdint>

// How the worker reaches whoever shows its progress: the dialog, the tests' recorder, the console.
class MessageChannel {
public:
    virtual ~MessageChannel() = default;
    // Returns once the receiving thread has handled the message, so lParam may point at our stack.
    virtual intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    // Queued; arrives after everything sent or posted before it.
    virtual void post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};
