#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "archive/base/failure_reason.h"

class ExtractSink;
class ProgressSink;
class GrfArchive;
class GrfEntry;

// Stored bytes of one archive's entries, asked for in order of position: neighbours come from one
// read of a window instead of a read each, and the file's length is asked once. Only for an
// archive nothing writes while it lives, on the one thread that reads that archive's file.
class StoredReadAhead {
public:
    explicit StoredReadAhead(GrfArchive& archive) : archive(archive) {}
    // The file's length when first asked; UINT64_MAX when it cannot be told.
    uint64_t fileLength();
    // Copies `count` bytes at `position` to `out`: the bytes read, fewer when the file ended or a
    // read failed (the file's lastSystemError() says which), as one readAt would answer.
    size_t read(uint64_t position, uint8_t* out, size_t count);
    GrfArchive& owner() const { return archive; }

private:
    GrfArchive& archive;
    std::vector<uint8_t> window;
    uint64_t windowStart = 0;
    uint64_t length = 0;
    bool lengthKnown = false;
};

// The one path an entry's data takes out of an archive: read its stored bytes (the archive's
// file, one thread at a time), decode and inflate them (any thread), write them into a sink.
// Extraction, the check, the preview and a save re-storing another archive's entry all use it.
struct EntryData {
    std::unique_ptr<uint8_t[]> stored;
    // The stored bytes in a block the caller owns (neighbours read together), when `stored` is null.
    uint8_t* storedIn = nullptr;
    uint32_t storedSize = 0;
    uint32_t compressedSize = 0;  // the stream's length within the stored bytes
    int32_t coding = -1;
    std::unique_ptr<uint8_t[]> output;
    uint64_t capacity = 0;  // room for the inflated bytes
    uint32_t length = 0;    // inflated bytes
    FailureReason reason;   // why a step failed

    uint8_t* storedBytes() const { return stored ? stored.get() : storedIn; }
    bool failed() const { return reason.failed(); }
    // A failure of `code` alone, with the cause the code means.
    bool fail(int code) { return fail(codeFailure(code)); }
    bool fail(FailureReason why) {
        reason = std::move(why);
        return false;
    }
};

// Why `entry` failed with `data`: the data's reason, about the entry (its name in the chosen
// form as the subject) and never about the file written, whose folder the caller chose.
FailureReason entryFailure(const GrfEntry& entry, const EntryData& data, bool useKoreanNames);
// The same for a reason of its own (a refused name, a file that could not be written).
FailureReason entryFailure(const GrfEntry& entry, FailureReason reason, bool useKoreanNames);
// Names `entry` in the status, unless no one would see it: then its wide name is not even made.
void reportEntryStatus(ProgressSink& progress, const GrfEntry& entry, bool useKoreanNames);

// Reads the stored bytes of `entry` (checked against its file first, so a forged size cannot
// exhaust memory); the stream is the first `streamLength` of them. Failures: RESULT_BAD_LENGTH,
// with UNREACHABLE_POSITION for a position no 32-bit record can name (the field plus the
// header passes 32 bits). With `ahead` (for the entry's own archive), the bytes come through it.
// With `into` (room for the entry's stored size), they go there instead of a buffer of their own.
bool readStoredBytes(const GrfEntry& entry, uint32_t streamLength, EntryData& data, StoredReadAhead* ahead = nullptr,
                     uint8_t* into = nullptr);
// Reads `length` of the entry's stored bytes from `from` on into `into`, for a reader taking the
// entry in pieces of its own; the first piece (from 0) checks that the stored bytes lie in the file.
bool readStoredPiece(const GrfEntry& entry, uint32_t from, uint8_t* into, size_t length, EntryData& data);
// Makes room for `capacity` inflated bytes; RESULT_BAD_DATA when there is none.
bool reserveOutput(uint64_t capacity, EntryData& data);
// For extraction: the entry's stored bytes and room for what its stream can produce.
bool readEntryData(const GrfEntry& entry, EntryData& data, StoredReadAhead* ahead = nullptr);
// readEntryData with the room only measured (`capacity`), for a reader that inflates into a
// buffer of its own; `into` as for readStoredBytes.
bool readEntryStream(const GrfEntry& entry, EntryData& data, StoredReadAhead* ahead = nullptr, uint8_t* into = nullptr);
// Decodes and inflates; touches no file or entry, so any thread may run it. `onChunk` hears of the
// stored bytes consumed. Frees the stored bytes.
bool inflateEntryData(EntryData& data, const std::function<void(size_t consumed)>& onChunk);
// readEntryData and inflateEntryData in one go: the entry's bytes in memory, for a preview.
bool loadEntryData(const GrfEntry& entry, EntryData& data);
// Opens `sink` and writes the inflated bytes into it; a reason that failed() when it could not,
// the sink's own. What cannot be written whole (and committed) is discarded. `onWritten` hears
// of the bytes written so far.
FailureReason writeEntryData(const EntryData& data, ExtractSink& sink,
                             const std::function<void(size_t written)>& onWritten);

// Entries whose stored and inflated bytes together pass this are never held whole: they are read,
// inflated (or compressed) and written in pieces on the thread that owns the files.
constexpr uint64_t STREAM_ABOVE_BYTES = 32ull << 20;
// Whether an entry of `coding` with these sizes goes in pieces. Mixed coding shuffles blocks across
// the whole entry, so such an entry is always held whole.
bool isStreamed(uint64_t storedBytes, uint64_t plainBytes, int32_t coding);
// Whether extracting `entry` streams it.
bool isStreamedEntry(const GrfEntry& entry);

// Gets each piece of plain bytes; 0, or the result code that stops the work.
using PlainSink = std::function<int(std::span<const uint8_t> piece)>;
// The stored bytes of `entry` lie within its file; RESULT_BAD_LENGTH in data.error when not.
// Also readStoredBytes's check of the position. `ahead` knows the file's length already.
bool storedBytesInFile(const GrfEntry& entry, EntryData& data, StoredReadAhead* ahead = nullptr);
// readEntryData's and inflateEntryData's work in pieces, on the thread that may read the archive's
// file: the first `streamLength` stored bytes are read, decoded and inflated, at most `capacity`
// plain bytes go to `out`, and data.length counts them. Failures: RESULT_BAD_LENGTH (the file),
// RESULT_BAD_DATA (the stream), or the code `out` answered. `onChunk` hears of the stored bytes read.
bool streamEntryData(const GrfEntry& entry, uint32_t streamLength, uint64_t capacity, EntryData& data,
                     const PlainSink& out, const std::function<void(size_t consumed)>& onChunk);
// A save copying an entry's stream as stored, in pieces: each piece of its stored stream goes to
// `storedOut` as read, while the stream is inflated (the plain bytes dropped) to prove it whole;
// data.length counts the plain bytes. For entries without legacy coding only (RESULT_BAD_DATA).
bool copyEntryStream(const GrfEntry& entry, EntryData& data, const PlainSink& storedOut,
                     const std::function<void(size_t consumed)>& onChunk);
// readEntryData's checks for a streamed entry, before anything is read.
bool checkStreamedEntry(const GrfEntry& entry, EntryData& data);
// Extraction of a streamed entry that passed checkStreamedEntry into `sink` (nullptr: a check,
// which writes nothing), with the answers of inflateEntryData and writeEntryData. What was begun
// is discarded when the entry turns out damaged or cannot be written whole.
bool extractStreamed(const GrfEntry& entry, ExtractSink* sink, EntryData& data,
                     const std::function<void(size_t consumed)>& onChunk);
