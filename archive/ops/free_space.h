#pragma once
#include <cstdint>
#include <list>

// One free gap of the data region.
struct FreeSpan {
    uint32_t start = 0;   // absolute position of the first free byte
    uint32_t length = 0;
};

// Gaps in ascending order of start; lives for one save.
using FreeList = std::list<FreeSpan>;
