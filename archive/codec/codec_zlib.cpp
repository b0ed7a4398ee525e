#include "archive/codec/codec.h"

#include <algorithm>
#include <limits>
#include <vector>

#include <zlib.h>

namespace {

// zlib counts in uInt; larger buffers are handed over in slices of this size.
constexpr size_t MAX_SLICE = std::numeric_limits<uInt>::max();

// Ends the stream however the scope is left.
struct DeflateGuard {
    z_stream* stream;
    ~DeflateGuard() { deflateEnd(stream); }
};

struct InflateGuard {
    z_stream* stream;
    ~InflateGuard() { inflateEnd(stream); }
};

}  // namespace

// The whole-buffer functions are libdeflate's when that codec is chosen; the streams are zlib's always.
#ifndef QUARNEL_WHOLE_BUFFERS_ELSEWHERE

const char16_t* codecName() {
    return u"zlib";
}

uint64_t deflateCapacity(uint64_t length) {
    return length + (length >> 12) + (length >> 14) + (length >> 25) + 13;
}

bool deflateStream(std::span<const uint8_t> input, int level, std::vector<uint8_t>& output,
                   const std::function<void(size_t consumed)>& onChunk) {
    z_stream stream{};
    if (deflateInit(&stream, level) != Z_OK) {
        return false;
    }
    const DeflateGuard guard{&stream};
    output.resize(static_cast<size_t>(deflateCapacity(input.size())));

    // Without a progress listener the whole input goes in one call.
    const size_t chunkBytes = onChunk ? CODEC_CHUNK_BYTES : MAX_SLICE;
    size_t consumed = 0;
    size_t produced = 0;
    for (;;) {
        const size_t chunk = std::min(input.size() - consumed, chunkBytes);
        const bool last = consumed + chunk == input.size();
        stream.next_in = const_cast<Bytef*>(input.data() + consumed);
        stream.avail_in = static_cast<uInt>(chunk);
        int status = Z_OK;
        do {
            // The capacity covers the whole stream; growing is only a safety net for the
            // chunked path, whose block boundaries may differ from a single call's.
            if (produced == output.size()) {
                output.resize(output.size() + CODEC_CHUNK_BYTES);
            }
            stream.next_out = output.data() + produced;
            stream.avail_out = static_cast<uInt>(std::min(output.size() - produced, MAX_SLICE));
            const uInt roomBefore = stream.avail_out;
            status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            produced += roomBefore - stream.avail_out;
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                return false;
            }
        } while (last ? status != Z_STREAM_END : stream.avail_in > 0 || stream.avail_out == 0);
        consumed += chunk;
        if (onChunk) {
            onChunk(consumed);
        }
        if (last) {
            break;
        }
    }
    output.resize(produced);
    return true;
}

namespace {

// Inflates `input` into `output`: the bytes produced once the stream ends or, with `headOnly`,
// once `output` is full. nullopt when the stream is damaged, or the input or the room runs out
// first. `onChunk` as inflateStream's; with one the input goes in chunks, else in slices as large
// as zlib takes.
std::optional<size_t> inflateInto(std::span<const uint8_t> input, std::span<uint8_t> output, bool headOnly,
                                  const std::function<void(size_t consumed)>& onChunk) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return std::nullopt;
    }
    const InflateGuard guard{&stream};
    const size_t chunkBytes = onChunk ? CODEC_CHUNK_BYTES : MAX_SLICE;
    size_t consumed = 0;
    size_t produced = 0;
    for (;;) {
        const size_t inSlice = std::min(input.size() - consumed, chunkBytes);
        const size_t outSlice = std::min(output.size() - produced, MAX_SLICE);
        stream.next_in = const_cast<Bytef*>(input.data() + consumed);
        stream.avail_in = static_cast<uInt>(inSlice);
        // zlib refuses a null output even with no room; an empty entry still has a stream to check.
        uint8_t noRoom = 0;
        stream.next_out = output.empty() ? &noRoom : output.data() + produced;
        stream.avail_out = static_cast<uInt>(outSlice);
        const int status = inflate(&stream, Z_NO_FLUSH);
        const size_t used = inSlice - stream.avail_in;
        consumed += used;
        produced += outSlice - stream.avail_out;
        if (onChunk && (used > 0 || status != Z_OK)) {
            onChunk(consumed);
        }
        if (status == Z_STREAM_END || (headOnly && produced == output.size())) {
            return produced;
        }
        // No progress possible: the input ended before the stream did, or the output is full.
        // A stream that ends early is damaged data, not a short buffer.
        if (status != Z_OK) {
            return std::nullopt;
        }
    }
}

}  // namespace

std::optional<size_t> inflateStream(std::span<const uint8_t> input, std::span<uint8_t> output,
                                    const std::function<void(size_t consumed)>& onChunk) {
    return inflateInto(input, output, false, onChunk);
}

std::optional<size_t> inflatePrefix(std::span<const uint8_t> input, std::span<uint8_t> output) {
    return inflateInto(input, output, true, {});
}

#endif  // QUARNEL_WHOLE_BUFFERS_ELSEWHERE

namespace {

// Output is handed on in pieces of this size.
constexpr size_t STREAM_PIECE_BYTES = 256 * 1024;

}  // namespace

struct StreamDeflater::State {
    z_stream stream{};
    bool active = false;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(STREAM_PIECE_BYTES);
    ~State() {
        if (active) deflateEnd(&stream);
    }
};

StreamDeflater::StreamDeflater(int level) : state(std::make_unique<State>()) {
    state->active = deflateInit(&state->stream, level) == Z_OK;
}

StreamDeflater::~StreamDeflater() = default;

bool StreamDeflater::put(std::span<const uint8_t> input, bool last, const StreamSink& out) {
    if (!state->active) return false;
    z_stream& stream = state->stream;
    for (size_t offset = 0;;) {
        const size_t slice = std::min(input.size() - offset, MAX_SLICE);
        const bool lastSlice = offset + slice == input.size();
        stream.next_in = const_cast<Bytef*>(input.data() + offset);
        stream.avail_in = static_cast<uInt>(slice);
        const int flush = last && lastSlice ? Z_FINISH : Z_NO_FLUSH;
        int status = Z_OK;
        do {
            stream.next_out = state->buffer.data();
            stream.avail_out = static_cast<uInt>(state->buffer.size());
            status = deflate(&stream, flush);
            if (status == Z_STREAM_ERROR) return false;
            const size_t made = state->buffer.size() - stream.avail_out;
            if (made > 0 && !out({state->buffer.data(), made})) return false;
        } while (flush == Z_FINISH ? status != Z_STREAM_END : stream.avail_out == 0 || stream.avail_in > 0);
        offset += slice;
        if (lastSlice) return true;
    }
}

struct StreamInflater::State {
    z_stream stream{};
    bool active = false;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(STREAM_PIECE_BYTES);
    ~State() {
        if (active) inflateEnd(&stream);
    }
};

StreamInflater::StreamInflater() : state(std::make_unique<State>()) {
    state->active = inflateInit(&state->stream) == Z_OK;
}

StreamInflater::~StreamInflater() = default;

StreamInflater::Step StreamInflater::put(std::span<const uint8_t> input, const StreamSink& out) {
    if (!state->active) return Step::DAMAGED;
    z_stream& stream = state->stream;
    for (size_t offset = 0;;) {
        const size_t slice = std::min(input.size() - offset, MAX_SLICE);
        stream.next_in = const_cast<Bytef*>(input.data() + offset);
        stream.avail_in = static_cast<uInt>(slice);
        for (;;) {
            stream.next_out = state->buffer.data();
            stream.avail_out = static_cast<uInt>(state->buffer.size());
            const int status = inflate(&stream, Z_NO_FLUSH);
            const size_t made = state->buffer.size() - stream.avail_out;
            if (made > 0 && !out({state->buffer.data(), made})) return Step::DAMAGED;
            if (status == Z_STREAM_END) return Step::ENDED;
            // No progress without more input: the slice is used up.
            if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
            if (status != Z_OK) return Step::DAMAGED;
            if (stream.avail_in == 0 && stream.avail_out > 0) break;
        }
        offset += slice;
        if (offset == input.size()) return Step::MORE;
    }
}
