#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>

#include "archive/base/failure_reason.h"
#include "archive/ops/entry_data.h"

class GrfEntry;
class StoredReadAhead;

// What a pending entry stores, gathered in three steps: read on the thread that owns the files
// (readSource), made plain (prepareInput, safe on any thread), then compressed by the save.
struct SourceData {
    // Another archive's entry: its stored bytes, inflated through the entry-data path. A disk
    // file: its bytes, read straight into `plain.output`.
    EntryData plain;
    bool fromEntry = false;
    // Its stored stream goes in as it is; inflating it only proves it whole.
    bool copied = false;
    // Too large to hold whole: nothing was read, the saving thread streams it in its turn.
    bool streamed = false;
    // Why it failed, and whether that belongs to the source archive.
    FailureReason reason;
    bool sourceFailed = false;

    std::span<const uint8_t> input() const { return {plain.output.get(), plain.length}; }
    bool failed() const { return reason.failed(); }
    bool fail(FailureReason why, bool ofSource) {
        sourceFailed = ofSource;
        reason = std::move(why);
        return false;
    }
    // The entry-data path's failure.
    bool failFrom(const EntryData& step, bool ofSource) { return fail(step.reason, ofSource); }
};

// Whether a save copies the stored stream of pending `entry`'s source as it is: a patch's import
// without legacy coding, which must be undone, so such a stream is always compressed again.
bool copiesStoredStream(const GrfEntry& entry);
// Whether the source of pending `entry` is too large to hold whole.
bool isStreamedSource(const GrfEntry& entry);
// The disk file as it is now, whole (or marked streamed); a file that changed its length since it
// was added is taken whole. Any thread may read its own file.
bool readSourceFile(const std::u16string& path, SourceData& data);
// Reads the entry's source; another archive's file is shared by all its entries, so only the
// saving thread calls it for those. `ahead`, when set, reads another archive's neighbouring
// entries together.
bool readSource(const GrfEntry& entry, SourceData& data, StoredReadAhead* ahead = nullptr);
// Decodes and inflates the stored bytes of another archive's entry; no file or archive is touched.
bool prepareInput(SourceData& data);
// A streamed source's plain bytes, piece by piece, to `take` (`last` on the final piece, which may
// be empty), on the saving thread. False with data.failed() when the source failed; false
// without when `take` answered false (the taker's own failure).
bool streamSource(const GrfEntry& entry, SourceData& data,
                  const std::function<bool(std::span<const uint8_t> plain, bool last)>& take);
