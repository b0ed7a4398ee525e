#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "archive/free_list.h"
#include "archive/outcome.h"

class GrfArchive;

// Bytes [start, end) of the file that something still refers to.
struct OccupiedRange {
    uint64_t start = 0;
    uint64_t end = 0;
};

// The gaps between the header and `fileEnd` that no range covers, in ascending order.
// Ranges may overlap, nest, coincide or reach past `fileEnd`.
FreeList freeSpansAround(std::vector<OccupiedRange> occupied, uint64_t fileEnd);

// First fit: the start of `length` bytes cut from the front of the first span that holds them
// (an emptied span leaves the list); nullopt when no span is long enough.
std::optional<uint32_t> takeFirstFit(FreeList& freeList, uint32_t length);

// The gaps of `archive`'s file: everything except the header, the data of every stored entry
// (deleted ones too) and the table the header names now; a failure when the
// file cannot be measured.
Outcome buildFreeList(GrfArchive& archive, FreeList& freeList);
