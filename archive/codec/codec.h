#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

// Deflate and inflate of zlib streams (RFC 1950). One implementation is linked in, chosen at build
// time: zlib everywhere, or libdeflate where it is available (whole buffers only, about twice
// as fast). Every function is safe to call from several threads at once.

// Input is fed in chunks of this size so that progress moves within a large entry.
constexpr size_t CODEC_CHUNK_BYTES = 65536;

// The implementation linked in, for benchmarks and logs: u"zlib" or u"libdeflate".
const char16_t* codecName();

// Deflate cannot shrink data by more than about 1032:1, so a stream of `streamLength` bytes never
// inflates to more than this (with room to spare); a size claimed beyond it is damage, and
// allocating it would only exhaust memory.
constexpr uint64_t maxInflatedSize(uint64_t streamLength) { return streamLength * 1033 + 1024; }

// Output room that holds the stream of `length` input bytes at any level.
uint64_t deflateCapacity(uint64_t length);

// Compresses `input` at `level` (0 to 9) into `output` (resized to the stream's length).
// `onChunk`, when set, gets the input bytes consumed so far after every chunk; an implementation
// without streaming calls it once, with the whole input, when the stream is done.
// False when the compressor fails or runs out of memory.
bool deflateStream(std::span<const uint8_t> input, int level, std::vector<uint8_t>& output,
                   const std::function<void(size_t consumed)>& onChunk = {});

// Inflates the zlib stream `input` into `output`; the bytes produced, which may be fewer than
// `output` holds. nullopt when the stream is damaged, ends early or does not fit.
// `onChunk`, when set, gets the input bytes consumed so far as the work proceeds (after every
// chunk, or once at the end), also when the stream turns out damaged.
std::optional<size_t> inflateStream(std::span<const uint8_t> input, std::span<uint8_t> output,
                                    const std::function<void(size_t consumed)>& onChunk = {});

// The first `output.size()` bytes the stream inflates to, or all of them when it holds fewer:
// the bytes produced. nullopt when the part read is damaged (or, for a stream shorter than
// `output`, when it ends early).
std::optional<size_t> inflatePrefix(std::span<const uint8_t> input, std::span<uint8_t> output);

// Streams in pieces, for entries too large to hold whole. Always zlib's, whichever codec does the
// whole buffers: the format's streams are plain zlib streams, and libdeflate has no streaming.
// `out` gets each piece of output as it is made; answering false stops the work.
using StreamSink = std::function<bool(std::span<const uint8_t> piece)>;

class StreamDeflater {
public:
    explicit StreamDeflater(int level);
    StreamDeflater(const StreamDeflater&) = delete;
    StreamDeflater& operator=(const StreamDeflater&) = delete;
    ~StreamDeflater();

    // Compresses `input`; `last` ends the stream. False when the compressor fails (or could not be
    // made) or `out` stops it.
    bool put(std::span<const uint8_t> input, bool last, const StreamSink& out);

private:
    struct State;
    std::unique_ptr<State> state;
};

class StreamInflater {
public:
    enum class Step { MORE, ENDED, DAMAGED };

    StreamInflater();
    StreamInflater(const StreamInflater&) = delete;
    StreamInflater& operator=(const StreamInflater&) = delete;
    ~StreamInflater();

    // Inflates `input`: MORE when all of it is taken and the stream goes on, ENDED when the stream
    // ended (input after its end is left alone), DAMAGED when it does not inflate or `out` stopped it.
    Step put(std::span<const uint8_t> input, const StreamSink& out);

private:
    struct State;
    std::unique_ptr<State> state;
};
