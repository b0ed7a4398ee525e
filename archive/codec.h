#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// Deflate and inflate of zlib streams (RFC 1950). One implementation is linked in; the zlib one
// is the reference, a faster library may take its place behind the same functions.

// Input is fed in chunks of this size so that progress moves within a large entry.
constexpr size_t CODEC_CHUNK_BYTES = 65536;

// Output room that holds the stream of `length` input bytes at any level.
uint64_t deflateCapacity(uint64_t length);

// Compresses `input` at `level` (0 to 9) into `output` (resized to the stream's length).
// `onChunk`, when set, gets the input bytes consumed so far after every chunk.
// False when the compressor fails or runs out of memory.
bool deflateStream(std::span<const uint8_t> input, int level, std::vector<uint8_t>& output,
                   const std::function<void(size_t consumed)>& onChunk = {});

// Inflates the zlib stream `input` into `output`; the bytes produced, which may be fewer than
// `output` holds. nullopt when the stream is damaged, ends early or does not fit.
std::optional<size_t> inflateStream(std::span<const uint8_t> input, std::span<uint8_t> output);
