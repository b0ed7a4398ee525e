#pragma once
#include <cstdint>

// Just below WM_USER: the numbers the window has always used for its worker.
constexpr uint32_t WM_TASK_ITEM_FAILED = 1018;  // sent: 0, const FailureReason* of an item left out or failed
constexpr uint32_t WM_TASK_FINISHED = 1019;  // posted: task code, result
constexpr uint32_t WM_TASK_STATUS = 1020;    // sent: const char16_t* text, 0
constexpr uint32_t WM_TASK_PROGRESS = 1021;  // posted: high, low half of the bytes done
constexpr uint32_t WM_TASK_TOTAL = 1022;     // sent: high, low half of the total
constexpr uint32_t WM_TASK_STARTED = 1023;   // sent: task code, 0

enum TaskCode : uint32_t {
    TASK_EXTRACT_ONE = 1,
    TASK_EXTRACT_SELECTED = 2,
    TASK_EXTRACT_ALL = 3,
    TASK_ADD_DIRECTORY = 4,
    TASK_ADD_ARCHIVE = 5,
    TASK_SAVE = 6,
    TASK_RECOMPRESS = 7,
};
constexpr uint32_t TASK_CODE_COUNT = 8;  // codes 1 to 7 index the procedure table

inline uint32_t highHalf(uint64_t value) { return static_cast<uint32_t>(value >> 32); }
inline uint32_t lowHalf(uint64_t value) { return static_cast<uint32_t>(value); }
inline uint64_t joinHalves(uintptr_t high, intptr_t low) {
    return uint64_t(uint32_t(high)) << 32 | uint32_t(low);
}
