#pragma once
#include <cstdint>
#include <list>
#include <optional>
#include <vector>

#include "archive/base/outcome.h"

class GrfArchive;

// One free gap of the data region.
struct FreeSpan {
    uint64_t start = 0;   // absolute position of the first free byte
    uint64_t length = 0;
};

// Gaps in ascending order of start; lives for one save.
using FreeList = std::list<FreeSpan>;

// Bytes [start, end) of the file that something still refers to.
struct OccupiedRange {
    uint64_t start = 0;
    uint64_t end = 0;
};

// The gaps between the header and `fileEnd` (or the end of 32-bit positions, if sooner) that no
// range covers, in ascending order. Ranges may overlap, nest, coincide or reach past `fileEnd`.
FreeList freeSpansAround(std::vector<OccupiedRange> occupied, uint64_t fileEnd);

// First fit: the start of `length` bytes cut from the front of the first span that holds them
// (an emptied span leaves the list); nullopt when no span is long enough.
std::optional<uint64_t> takeFirstFit(FreeList& freeList, uint64_t length);

// The gaps of `archive`'s file: everything except the header, the data of every stored entry
// (deleted ones too) and the table the header names now; a failure when the
// file cannot be measured.
Outcome buildFreeList(GrfArchive& archive, FreeList& freeList);
