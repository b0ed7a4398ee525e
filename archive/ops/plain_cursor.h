#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "archive/base/failure_reason.h"

class GrfEntry;

// An entry's plain bytes taken in order, a piece at a time, so that two large entries can be
// compared side by side without either being held whole, and left at the first byte that differs.
// Pieces come from the calling thread, which must be the only one touching the files.
class PlainCursor {
public:
    virtual ~PlainCursor() = default;
    // The next plain bytes into `piece`, valid until the next call; empty at the end. False when
    // the bytes cannot be had: `reason` says why.
    virtual bool next(std::span<const uint8_t>& piece) = 0;

    FailureReason reason;
};

// Bytes already in memory, as one piece.
std::unique_ptr<PlainCursor> memoryCursor(std::span<const uint8_t> bytes);
// A disk file of `length` bytes; fewer is a failed read.
std::unique_ptr<PlainCursor> fileCursor(const std::u16string& path, uint64_t length);
// A stored entry of an opened archive, inflated as it is read (legacy header-only coding undone).
std::unique_ptr<PlainCursor> entryCursor(const GrfEntry& entry);
