#include "ui/window_channel.h"

intptr_t WindowChannel::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return SendMessageW(window, message, wParam, lParam);
}

void WindowChannel::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    PostMessageW(window, message, wParam, lParam);
}
