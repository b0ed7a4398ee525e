#pragma once
#include <windows.h>

#include "worker/message_channel.h"

// The worker's reports as window messages to the main dialog.
class WindowChannel : public MessageChannel {
public:
    explicit WindowChannel(HWND window) : window(window) {}
    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

private:
    HWND window;
};
