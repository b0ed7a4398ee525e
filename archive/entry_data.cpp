#include "archive/entry_data.h"

#include <algorithm>
#include <limits>
#include <new>

#include "archive/archive.h"
#include "archive/codec.h"
#include "archive/legacy_decode.h"
#include "archive/result_codes.h"
#include "platform/disk_ops.h"
#include "platform/output_file.h"

namespace {

// Files are written in pieces of this size when someone follows the writing, so that progress
// also moves while a large one goes to disk.
constexpr size_t WRITE_PIECE_BYTES = 1 << 20;

// Stored bytes are read in pieces of this size when an entry is streamed.
constexpr size_t READ_PIECE_BYTES = 1 << 20;

// A buffer whose allocation failure becomes a result code instead of an exception; one byte at
// least, so an empty entry still has a valid pointer.
std::unique_ptr<uint8_t[]> allocate(uint64_t size) {
    if (size >= std::numeric_limits<size_t>::max()) return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[std::max<uint64_t>(size, 1)]);
}

}  // namespace

bool readStoredBytes(const GrfEntry& entry, uint32_t streamLength, EntryData& data) {
    GrfArchive& archive = *entry.owner;
    const uint64_t fileLength = archive.file.size();
    if (fileLength == UINT64_MAX || uint64_t(entry.offset) + entry.storedSize > fileLength) {
        return data.fail(RESULT_BAD_LENGTH);
    }
    data.stored = allocate(entry.storedSize);
    if (!data.stored) return data.fail(RESULT_BAD_LENGTH);
    if (!archive.file.seek(entry.offset) || archive.file.read(data.stored.get(), entry.storedSize) != entry.storedSize) {
        return data.fail(RESULT_BAD_LENGTH);
    }
    data.storedSize = entry.storedSize;
    data.compressedSize = streamLength;
    data.coding = entry.coding;
    return true;
}

bool reserveOutput(uint64_t capacity, EntryData& data) {
    data.output = allocate(capacity);
    if (!data.output) return data.fail(RESULT_BAD_DATA);
    data.capacity = capacity;
    return true;
}

bool readEntryData(const GrfEntry& entry, EntryData& data) {
    // The inflater must not run past the stored bytes.
    if (entry.compressedSize > entry.storedSize) return data.fail(RESULT_BAD_DATA);
    if (!readStoredBytes(entry, entry.compressedSize, data)) return false;
    // An entry claiming more than its stream can produce gets only what it can produce.
    return reserveOutput(std::min<uint64_t>(entry.originalSize, maxInflatedSize(entry.compressedSize)), data);
}

bool inflateEntryData(EntryData& data, const std::function<void(size_t consumed)>& onChunk) {
    if (data.coding >= 0) decodeData(data.stored.get(), data.storedSize, data.coding);
    const auto produced =
        inflateStream({data.stored.get(), data.compressedSize}, {data.output.get(), size_t(data.capacity)}, onChunk);
    data.stored.reset();
    if (!produced) return data.fail(RESULT_BAD_DATA);
    data.length = uint32_t(*produced);
    return true;
}

bool loadEntryData(const GrfEntry& entry, EntryData& data) {
    return readEntryData(entry, data) && inflateEntryData(data, {});
}

int writeEntryFile(const EntryData& data, const std::u16string& targetPath,
                   const std::function<void(size_t written)>& onWritten) {
    // Opened only now, so a damaged entry never leaves a file behind.
    platform::OutputFile target;
    if (target.create(targetPath) != 0) {
        return RESULT_OPEN_FAILED;
    }
    // One write unless someone follows the progress.
    const size_t pieceBytes = onWritten ? WRITE_PIECE_BYTES : std::max<size_t>(data.length, 1);
    for (size_t written = 0; written < data.length;) {
        const size_t piece = std::min<size_t>(data.length - written, pieceBytes);
        if (!target.write(data.output.get() + written, piece)) {
            // A short file (a full disk) must not pass for the entry's data.
            target.close();
            platform::deleteFile(targetPath);
            return RESULT_OPEN_FAILED;
        }
        written += piece;
        if (onWritten) onWritten(written);
    }
    target.close();
    return 0;
}

bool isStreamed(uint64_t storedBytes, uint64_t plainBytes, int32_t coding) {
    return coding <= 0 && storedBytes + plainBytes > STREAM_ABOVE_BYTES;
}

bool isStreamedEntry(const GrfEntry& entry) {
    const uint64_t capacity = std::min<uint64_t>(entry.originalSize, maxInflatedSize(entry.compressedSize));
    return isStreamed(entry.storedSize, capacity, entry.coding);
}

bool storedBytesInFile(const GrfEntry& entry, EntryData& data) {
    const uint64_t fileLength = entry.owner->file.size();
    if (fileLength == UINT64_MAX || uint64_t(entry.offset) + entry.storedSize > fileLength) {
        return data.fail(RESULT_BAD_LENGTH);
    }
    return true;
}

bool streamEntryData(const GrfEntry& entry, uint32_t streamLength, uint64_t capacity, EntryData& data,
                     const PlainSink& out, const std::function<void(size_t consumed)>& onChunk) {
    GrfArchive& archive = *entry.owner;
    if (!storedBytesInFile(entry, data)) return false;
    data.storedSize = entry.storedSize;
    data.compressedSize = streamLength;
    data.coding = entry.coding;
    data.length = 0;
    std::unique_ptr<uint8_t[]> piece = allocate(READ_PIECE_BYTES);
    if (!piece || !archive.file.seek(entry.offset)) return data.fail(RESULT_BAD_LENGTH);
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
        if (archive.file.read(piece.get(), length) != length) return data.fail(RESULT_BAD_LENGTH);
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

bool checkStreamedEntry(const GrfEntry& entry, EntryData& data) {
    // The inflater must not run past the stored bytes.
    if (entry.compressedSize > entry.storedSize) return data.fail(RESULT_BAD_DATA);
    return storedBytesInFile(entry, data);
}

bool extractStreamed(const GrfEntry& entry, const std::u16string* targetPath, EntryData& data,
                     const std::function<void(size_t consumed)>& onChunk) {
    const uint64_t capacity = std::min<uint64_t>(entry.originalSize, maxInflatedSize(entry.compressedSize));
    platform::OutputFile target;
    if (targetPath != nullptr && target.create(*targetPath) != 0) return data.fail(RESULT_OPEN_FAILED);
    const PlainSink write = [&](std::span<const uint8_t> plain) {
        return targetPath == nullptr || target.write(plain.data(), plain.size()) ? 0 : RESULT_OPEN_FAILED;
    };
    if (streamEntryData(entry, entry.compressedSize, capacity, data, write, onChunk)) return true;
    if (targetPath != nullptr) {
        // Neither damaged data nor a short file may pass for the entry's data.
        target.close();
        platform::deleteFile(*targetPath);
    }
    return false;
}
