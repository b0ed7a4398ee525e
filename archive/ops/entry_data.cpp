#include "archive/ops/entry_data.h"

#include "archive/ops/extract_sink.h"
#include "archive/ops/ordered_pipeline.h"

#include <algorithm>
#include <limits>
#include <new>

#include "archive/model/archive.h"
#include "archive/codec/codec.h"
#include "archive/format/entry_record.h"
#include "archive/format/legacy_decode.h"
#include "archive/base/progress_sink.h"
#include "archive/base/result_codes.h"

namespace {

// Stored bytes are read in pieces of this size when an entry is streamed.
constexpr size_t READ_PIECE_BYTES = 1 << 20;

// One read of the archive's file takes in this much when the next stored bytes asked for are
// small: a few hundred neighbouring small entries at once.
constexpr size_t READ_AHEAD_BYTES = 256 << 10;

// A buffer whose allocation failure becomes a result code instead of an exception; one byte at
// least, so an empty entry still has a valid pointer.
std::unique_ptr<uint8_t[]> allocate(uint64_t size) {
    if (size >= std::numeric_limits<size_t>::max()) return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[std::max<uint64_t>(size, 1)]);
}

// A read of the archive's file that failed or stopped short.
bool failRead(const GrfEntry& entry, EntryData& data) {
    const int systemError = entry.owner()->file.lastSystemError();
    if (systemError == 0) return data.fail(RESULT_BAD_LENGTH);
    return data.fail(systemFailure(RESULT_BAD_LENGTH, Operation::READ, systemError, entry.owner()->path));
}

}  // namespace

uint64_t StoredReadAhead::fileLength() {
    if (!lengthKnown) {
        length = archive.file.size();
        lengthKnown = true;
    }
    return length;
}

size_t StoredReadAhead::read(uint64_t position, uint8_t* out, size_t count) {
    if (position >= windowStart && position - windowStart <= window.size() &&
        count <= window.size() - (position - windowStart)) {
        std::copy_n(window.data() + (position - windowStart), count, out);
        return count;
    }
    const uint64_t end = fileLength();
    // Large stored bytes gain nothing from the window: they are read straight where they go.
    if (count >= READ_AHEAD_BYTES / 2 || end == UINT64_MAX || position >= end) {
        return archive.file.readAt(position, out, count);
    }
    window.resize(size_t(std::min<uint64_t>(READ_AHEAD_BYTES, end - position)));
    const size_t got = archive.file.readAt(position, window.data(), window.size());
    if (got < count) {
        // A failure somewhere in the window may lie beyond this entry's bytes: this entry's
        // answer is the one a read of its own bytes gives.
        window.clear();
        return archive.file.readAt(position, out, count);
    }
    window.resize(got);
    windowStart = position;
    std::copy_n(window.data(), count, out);
    return count;
}

FailureReason entryFailure(const GrfEntry& entry, const EntryData& data, bool useKoreanNames) {
    return entryFailure(entry, data.reason, useKoreanNames);
}

FailureReason entryFailure(const GrfEntry& entry, FailureReason reason, bool useKoreanNames) {
    if (reason.cause == Cause::NONE && reason.operation == Operation::NONE) {
        reason.operation = Operation::EXTRACT;
    }
    reason.subject = entry.displayName(useKoreanNames);
    // A name without a form in that code page is shown by its bytes.
    if (reason.subject.empty()) reason.subject.assign(entry.name().begin(), entry.name().end());
    reason.subjectIsEntry = true;
    return reason;
}

void reportEntryStatus(ProgressSink& progress, const GrfEntry& entry, bool useKoreanNames) {
    if (progress.wantsStatus()) progress.reportStatus(entry.displayName(useKoreanNames).c_str());
}

bool readStoredBytes(const GrfEntry& entry, uint32_t streamLength, EntryData& data, StoredReadAhead* ahead,
                     uint8_t* into) {
    GrfArchive& archive = *entry.owner();
    if (ahead != nullptr && &ahead->owner() != &archive) ahead = nullptr;
    if (!storedBytesInFile(entry, data, ahead)) return false;
    if (into != nullptr) {
        data.storedIn = into;
    } else {
        data.stored = allocate(entry.storedSize());
        if (!data.stored) return data.fail(memoryFailure(RESULT_BAD_LENGTH, Operation::READ));
    }
    const size_t got = ahead != nullptr ? ahead->read(entry.offset(), data.storedBytes(), entry.storedSize())
                                        : archive.file.readAt(entry.offset(), data.storedBytes(), entry.storedSize());
    if (got != entry.storedSize()) {
        return failRead(entry, data);
    }
    data.storedSize = entry.storedSize();
    data.compressedSize = streamLength;
    data.coding = entry.coding();
    return true;
}

bool readStoredPiece(const GrfEntry& entry, uint32_t from, uint8_t* into, size_t length, EntryData& data) {
    if (from == 0 && !storedBytesInFile(entry, data)) return false;
    if (entry.owner()->file.readAt(uint64_t(entry.offset()) + from, into, length) != length) return failRead(entry, data);
    return true;
}

bool reserveOutput(uint64_t capacity, EntryData& data) {
    data.output = allocate(capacity);
    if (!data.output) return data.fail(memoryFailure(RESULT_BAD_DATA, Operation::INFLATE));
    data.capacity = capacity;
    return true;
}

bool readEntryStream(const GrfEntry& entry, EntryData& data, StoredReadAhead* ahead, uint8_t* into) {
    // The inflater must not run past the stored bytes.
    if (entry.compressedSize() > entry.storedSize()) return data.fail(RESULT_BAD_DATA);
    if (!readStoredBytes(entry, entry.compressedSize(), data, ahead, into)) return false;
    // An entry claiming more than its stream can produce gets only what it can produce.
    data.capacity = std::min<uint64_t>(entry.originalSize(), maxInflatedSize(entry.compressedSize()));
    return true;
}

bool readEntryData(const GrfEntry& entry, EntryData& data, StoredReadAhead* ahead) {
    return readEntryStream(entry, data, ahead) && reserveOutput(data.capacity, data);
}

bool inflateEntryData(EntryData& data, const std::function<void(size_t consumed)>& onChunk) {
    if (data.coding >= 0) decodeData(data.storedBytes(), data.storedSize, data.coding);
    const auto produced =
        inflateStream({data.storedBytes(), data.compressedSize}, {data.output.get(), size_t(data.capacity)}, onChunk);
    data.stored.reset();
    data.storedIn = nullptr;
    if (!produced) return data.fail(RESULT_BAD_DATA);
    data.length = uint32_t(*produced);
    return true;
}

bool loadEntryData(const GrfEntry& entry, EntryData& data) {
    return readEntryData(entry, data) && inflateEntryData(data, {});
}

FailureReason writeEntryData(const EntryData& data, ExtractSink& sink,
                             const std::function<void(size_t written)>& onWritten) {
    // Opened only now, so a damaged entry never leaves a file behind.
    if (FailureReason opened = sink.open(); opened.failed()) return opened;
    // One write unless someone follows the progress.
    const size_t pieceBytes = onWritten ? WRITE_PIECE_BYTES : std::max<size_t>(data.length, 1);
    for (size_t written = 0; written < data.length;) {
        const size_t piece = std::min<size_t>(data.length - written, pieceBytes);
        if (FailureReason failed = sink.write({data.output.get() + written, piece}); failed.failed()) {
            sink.discard();
            return failed;
        }
        written += piece;
        if (onWritten) onWritten(written);
    }
    return sink.commit();
}

bool isStreamed(uint64_t storedBytes, uint64_t plainBytes, int32_t coding) {
    return coding <= 0 && storedBytes + plainBytes > STREAM_ABOVE_BYTES;
}

bool isStreamedEntry(const GrfEntry& entry) {
    const uint64_t capacity = std::min<uint64_t>(entry.originalSize(), maxInflatedSize(entry.compressedSize()));
    return isStreamed(entry.storedSize(), capacity, entry.coding());
}

bool storedBytesInFile(const GrfEntry& entry, EntryData& data, StoredReadAhead* ahead) {
    // A position the table names passed 32 bits when the header's length was added: no record
    // of the format can reach such data.
    if (!isReachablePosition(entry.offset())) {
        return data.fail(ruleFailure(RESULT_BAD_LENGTH, Operation::READ, Cause::UNREACHABLE_POSITION, {}));
    }
    if (ahead != nullptr && &ahead->owner() != entry.owner()) ahead = nullptr;
    const uint64_t fileLength = ahead != nullptr ? ahead->fileLength() : entry.owner()->file.size();
    if (fileLength == UINT64_MAX || entry.offset() + entry.storedSize() > fileLength) {
        return data.fail(RESULT_BAD_LENGTH);
    }
    return true;
}

namespace {

// streamEntryData's work; `storedOut`, when set, gets each stored piece as read, before decoding.
bool pumpEntryStream(const GrfEntry& entry, uint32_t streamLength, uint64_t capacity, EntryData& data,
                     const PlainSink& out, const PlainSink* storedOut,
                     const std::function<void(size_t consumed)>& onChunk) {
    GrfArchive& archive = *entry.owner();
    if (!storedBytesInFile(entry, data)) return false;
    data.storedSize = entry.storedSize();
    data.compressedSize = streamLength;
    data.coding = entry.coding();
    data.length = 0;
    std::unique_ptr<uint8_t[]> piece = allocate(READ_PIECE_BYTES);
    if (!piece) return data.fail(memoryFailure(RESULT_BAD_LENGTH, Operation::READ));
    if (!archive.file.seek(entry.offset())) return failRead(entry, data);
    StreamInflater inflater;
    uint64_t produced = 0;
    int refusal = 0;
    const StreamSink sink = [&](std::span<const uint8_t> plain) {
        // More than the entry can hold is damage, as it is for a whole buffer.
        if (produced + plain.size() > capacity) {
            refusal = RESULT_BAD_DATA;
            return false;
        }
        produced += plain.size();
        refusal = out(plain);
        return refusal == 0;
    };
    for (size_t consumed = 0;;) {
        const size_t length = std::min<size_t>(streamLength - consumed, READ_PIECE_BYTES);
        if (archive.file.read(piece.get(), length) != length) return failRead(entry, data);
        if (storedOut != nullptr) {
            if (const int refused = (*storedOut)({piece.get(), length}); refused != 0) return data.fail(refused);
        }
        // Header-only coding touches the first blocks alone, which the first piece holds.
        if (consumed == 0 && data.coding >= 0) decodeData(piece.get(), length, data.coding);
        const StreamInflater::Step step = inflater.put({piece.get(), length}, sink);
        consumed += length;
        if (onChunk) onChunk(consumed);
        if (step == StreamInflater::Step::DAMAGED) return data.fail(refusal != 0 ? refusal : RESULT_BAD_DATA);
        if (step == StreamInflater::Step::ENDED) break;
        // The stored bytes ended before the stream did.
        if (consumed == streamLength) return data.fail(RESULT_BAD_DATA);
    }
    data.length = uint32_t(produced);
    return true;
}

}  // namespace

bool streamEntryData(const GrfEntry& entry, uint32_t streamLength, uint64_t capacity, EntryData& data,
                     const PlainSink& out, const std::function<void(size_t consumed)>& onChunk) {
    return pumpEntryStream(entry, streamLength, capacity, data, out, nullptr, onChunk);
}

bool copyEntryStream(const GrfEntry& entry, EntryData& data, const PlainSink& storedOut,
                     const std::function<void(size_t consumed)>& onChunk) {
    if (entry.coding() >= 0) return data.fail(RESULT_BAD_DATA);
    if (!checkStreamedEntry(entry, data)) return false;
    const uint64_t capacity = std::min<uint64_t>(entry.originalSize(), maxInflatedSize(entry.compressedSize()));
    const PlainSink drop = [](std::span<const uint8_t>) { return 0; };
    return pumpEntryStream(entry, entry.compressedSize(), capacity, data, drop, &storedOut, onChunk);
}

bool checkStreamedEntry(const GrfEntry& entry, EntryData& data) {
    // The inflater must not run past the stored bytes.
    if (entry.compressedSize() > entry.storedSize()) return data.fail(RESULT_BAD_DATA);
    return storedBytesInFile(entry, data);
}

bool extractStreamed(const GrfEntry& entry, ExtractSink* sink, EntryData& data,
                     const std::function<void(size_t consumed)>& onChunk) {
    const uint64_t capacity = std::min<uint64_t>(entry.originalSize(), maxInflatedSize(entry.compressedSize()));
    if (sink != nullptr) {
        if (FailureReason opened = sink->open(); opened.failed()) return data.fail(std::move(opened));
    }
    FailureReason writeFailure;
    const PlainSink write = [&](std::span<const uint8_t> plain) {
        if (sink == nullptr) return 0;
        writeFailure = sink->write(plain);
        if (!writeFailure.failed()) return 0;
        return writeFailure.code != 0 ? writeFailure.code : RESULT_OPEN_FAILED;
    };
    if (streamEntryData(entry, entry.compressedSize(), capacity, data, write, onChunk)) {
        if (sink == nullptr) return true;
        FailureReason committed = sink->commit();
        if (!committed.failed()) return true;
        return data.fail(std::move(committed));
    }
    if (sink != nullptr) sink->discard();
    if (writeFailure.failed()) return data.fail(std::move(writeFailure));
    // Damaged data must not pass for the entry's data either.
    return false;
}
