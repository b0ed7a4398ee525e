#include "archive/ops/save_source.h"

#include <algorithm>

#include "archive/base/result_codes.h"
#include "archive/codec/codec.h"
#include "archive/model/archive.h"
#include "archive/ops/source_reader.h"

namespace {

// Source bytes are read in pieces of this size when an entry is streamed.
constexpr size_t READ_PIECE_BYTES = 1 << 20;

// A stored entry of another archive. Only a stored entry has data in its file; a deletion mark
// does not matter: the bytes are still there, and a repack keeps such entries.
bool readSourceEntry(const GrfEntry& sourceEntry, bool copy, SourceData& data, StoredReadAhead* ahead) {
    if (sourceEntry.source() != SOURCE_ARCHIVE) {
        return data.fail(codeFailure(RESULT_BAD_LENGTH, Operation::READ), true);
    }
    if (!storedBytesInFile(sourceEntry, data.plain, ahead)) {
        return data.failFrom(data.plain, true);
    }
    // Only the stored bytes can be inflated, however long the stream claims to be.
    const uint32_t streamLength = std::min(sourceEntry.compressedSize(), sourceEntry.storedSize());
    if (sourceEntry.originalSize() > maxInflatedSize(streamLength)) {
        return data.fail(codeFailure(RESULT_BAD_DATA, Operation::INFLATE), true);
    }
    if (isStreamed(sourceEntry.storedSize(), sourceEntry.originalSize(), sourceEntry.coding())) {
        data.streamed = true;
        return true;
    }
    if (!readStoredBytes(sourceEntry, streamLength, data.plain, ahead)) {
        return data.failFrom(data.plain, true);
    }
    data.fromEntry = true;
    data.copied = copy;
    data.plain.capacity = sourceEntry.originalSize();
    return true;
}

// Opens a disk source and checks that an entry can hold it.
bool openSourceFile(SourceReader& reader, const std::u16string& path, SourceData& data) {
    if (FailureReason opened = reader.open(path); opened.failed()) return data.fail(std::move(opened), false);
    if (FailureReason fits = reader.checkEntrySize(); fits.failed()) return data.fail(std::move(fits), false);
    return true;
}

}  // namespace

bool copiesStoredStream(const GrfEntry& entry) {
    return entry.source() == SOURCE_OTHER_ENTRY && entry.sourceEntry() != nullptr &&
           entry.importedStream() == ImportedStream::COPY && entry.sourceEntry()->coding() < 0;
}

bool isStreamedSource(const GrfEntry& entry) {
    const GrfEntry* source = entry.source() == SOURCE_OTHER_ENTRY ? entry.sourceEntry().get() : nullptr;
    return source != nullptr ? isStreamed(source->storedSize(), source->originalSize(), source->coding())
                             : isStreamed(0, entry.originalSize(), -1);
}

bool readSourceFile(const std::u16string& path, SourceData& data) {
    SourceReader reader;
    if (!openSourceFile(reader, path, data)) return false;
    const uint64_t size = reader.size();
    if (isStreamed(0, size, -1)) {
        data.streamed = true;
        return true;
    }
    if (!reserveOutput(size, data.plain)) {
        return data.fail(memoryFailure(RESULT_BAD_DATA, Operation::READ, path), false);
    }
    if (FailureReason read = reader.read(data.plain.output.get(), size_t(size)); read.failed()) {
        return data.fail(std::move(read), false);
    }
    data.plain.length = uint32_t(size);
    return true;
}

bool readSource(const GrfEntry& entry, SourceData& data, StoredReadAhead* ahead) {
    if (entry.source() == SOURCE_OTHER_ENTRY && entry.sourceEntry() != nullptr) {
        return readSourceEntry(*entry.sourceEntry(), copiesStoredStream(entry), data, ahead);
    }
    if (entry.source() == SOURCE_DISK_FILE) {
        return readSourceFile(entry.sourcePath(), data);
    }
    // A pending entry without a source has nothing to store.
    return data.fail(codeFailure(RESULT_OPEN_FAILED, Operation::ADD), false);
}

bool prepareInput(SourceData& data) {
    if (!data.fromEntry || data.streamed) {
        return !data.failed();
    }
    // A stream that inflates short is stored with the length it has.
    if (!reserveOutput(data.plain.capacity, data.plain) || !inflateEntryData(data.plain, {})) {
        return data.failFrom(data.plain, true);
    }
    return true;
}

bool streamSource(const GrfEntry& entry, SourceData& data,
                  const std::function<bool(std::span<const uint8_t> plain, bool last)>& take) {
    if (entry.source() == SOURCE_DISK_FILE) {
        // The file as it is now, as for one held whole.
        const std::u16string& path = entry.sourcePath();
        SourceReader reader;
        if (!openSourceFile(reader, path, data)) return false;
        if (!reserveOutput(READ_PIECE_BYTES, data.plain)) {
            return data.fail(memoryFailure(RESULT_BAD_DATA, Operation::READ, path), false);
        }
        for (uint64_t remaining = reader.size(); remaining > 0;) {
            const size_t wanted = size_t(std::min<uint64_t>(remaining, READ_PIECE_BYTES));
            if (FailureReason read = reader.read(data.plain.output.get(), wanted); read.failed()) {
                return data.fail(std::move(read), false);
            }
            remaining -= wanted;
            if (!take({data.plain.output.get(), wanted}, remaining == 0)) return false;
        }
        return true;
    }
    const GrfEntry& sourceEntry = *entry.sourceEntry();
    const uint32_t streamLength = std::min(sourceEntry.compressedSize(), sourceEntry.storedSize());
    bool stopped = false;
    const bool inflated = streamEntryData(
        sourceEntry, streamLength, sourceEntry.originalSize(), data.plain,
        [&](std::span<const uint8_t> plain) {
            if (take(plain, false)) return 0;
            stopped = true;
            return RESULT_BAD_DATA;
        },
        {});
    if (stopped) return false;
    if (!inflated) return data.failFrom(data.plain, true);
    return take({}, true);
}
