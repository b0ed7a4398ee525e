#pragma once
#include <cstdint>

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
