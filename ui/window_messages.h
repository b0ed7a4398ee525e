#pragma once
#include <cstdint>

// Just below WM_USER: the numbers the window has always used for its worker's reports.
constexpr uint32_t WM_TASK_ITEM_FAILED = 1018;  // sent: 0, const FailureReason* of an item left out or failed
constexpr uint32_t WM_TASK_FINISHED = 1019;     // posted: task code, TaskCompletion* the window takes over
constexpr uint32_t WM_TASK_STATUS = 1020;       // sent: const char16_t* text, 0
constexpr uint32_t WM_TASK_PROGRESS = 1021;     // posted: high, low half of the bytes done
constexpr uint32_t WM_TASK_TOTAL = 1022;        // sent: high, low half of the total
constexpr uint32_t WM_TASK_STARTED = 1023;      // sent: task code, 0

inline uint32_t highHalf(uint64_t value) { return static_cast<uint32_t>(value >> 32); }
inline uint32_t lowHalf(uint64_t value) { return static_cast<uint32_t>(value); }
inline uint64_t joinHalves(uintptr_t high, intptr_t low) {
    return uint64_t(uint32_t(high)) << 32 | uint32_t(low);
}
