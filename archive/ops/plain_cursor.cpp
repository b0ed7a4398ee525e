#include "archive/ops/plain_cursor.h"

#include <algorithm>
#include <vector>

#include "archive/model/archive.h"
#include "archive/codec/codec.h"
#include "archive/ops/entry_data.h"
#include "archive/ops/source_reader.h"
#include "archive/format/legacy_decode.h"
#include "archive/base/result_codes.h"

namespace {

// Small enough that what one piece inflates to stays small, large enough to take few reads.
constexpr size_t PIECE_BYTES = 64 * 1024;

class MemoryCursor : public PlainCursor {
public:
    explicit MemoryCursor(std::span<const uint8_t> bytes) : rest(bytes) {}
    bool next(std::span<const uint8_t>& piece) override {
        piece = rest;
        rest = {};
        return true;
    }

private:
    std::span<const uint8_t> rest;
};

class FileCursor : public PlainCursor {
public:
    FileCursor(const std::u16string& path, uint64_t length) : remaining(length) { reason = file.open(path); }
    bool next(std::span<const uint8_t>& piece) override {
        if (reason.failed()) return false;
        const size_t wanted = size_t(std::min<uint64_t>(remaining, PIECE_BYTES));
        buffer.resize(wanted);
        if (wanted != 0) {
            reason = file.read(buffer.data(), wanted);
            if (reason.failed()) return false;
        }
        remaining -= wanted;
        piece = {buffer.data(), wanted};
        return true;
    }

private:
    SourceReader file;
    uint64_t remaining;
    std::vector<uint8_t> buffer;
};

class EntryCursor : public PlainCursor {
public:
    explicit EntryCursor(const GrfEntry& entry)
        : entry(entry),
          capacity(std::min<uint64_t>(entry.originalSize(), maxInflatedSize(entry.compressedSize()))),
          stored(PIECE_BYTES) {
        EntryData data;
        if (!checkStreamedEntry(entry, data)) reason = data.reason;
    }
    bool next(std::span<const uint8_t>& piece) override {
        if (reason.failed()) return false;
        plain.clear();
        const StreamSink keep = [this](std::span<const uint8_t> out) {
            // More than the entry can hold is damage, as it is for a whole buffer.
            if (produced + out.size() > capacity) return false;
            produced += out.size();
            plain.insert(plain.end(), out.begin(), out.end());
            return true;
        };
        while (plain.empty() && !ended) {
            // The stored bytes ended before the stream did.
            if (consumed == entry.compressedSize()) return fail(codeFailure(RESULT_BAD_DATA, Operation::INFLATE));
            const size_t length = std::min<size_t>(entry.compressedSize() - consumed, PIECE_BYTES);
            EntryData data;
            if (!readStoredPiece(entry, consumed, stored.data(), length, data)) return fail(data.reason);
            // Header-only coding touches the first blocks alone, which the first piece holds.
            if (consumed == 0) decodeData(stored.data(), length, entry.coding());
            consumed += length;
            const StreamInflater::Step step = inflater.put({stored.data(), length}, keep);
            if (step == StreamInflater::Step::DAMAGED) return fail(codeFailure(RESULT_BAD_DATA, Operation::INFLATE));
            ended = step == StreamInflater::Step::ENDED;
        }
        piece = plain;
        return true;
    }

private:
    bool fail(FailureReason why) {
        reason = std::move(why);
        return false;
    }

    const GrfEntry& entry;
    const uint64_t capacity;
    StreamInflater inflater;
    std::vector<uint8_t> stored;
    std::vector<uint8_t> plain;
    uint32_t consumed = 0;
    uint64_t produced = 0;
    bool ended = false;
};

}  // namespace

std::unique_ptr<PlainCursor> memoryCursor(std::span<const uint8_t> bytes) { return std::make_unique<MemoryCursor>(bytes); }

std::unique_ptr<PlainCursor> fileCursor(const std::u16string& path, uint64_t length) {
    return std::make_unique<FileCursor>(path, length);
}

std::unique_ptr<PlainCursor> entryCursor(const GrfEntry& entry) { return std::make_unique<EntryCursor>(entry); }
