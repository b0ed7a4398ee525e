#pragma once
#include <cstdint>
#include <span>
#include <vector>

// A decoded picture: `width` × `height` pixels of 4 bytes (blue, green, red, alpha), top row first.
struct DecodedImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bgra;
};

enum class TgaResult { OK, TRUNCATED, UNSUPPORTED, TOO_LARGE };

// Larger pictures are refused before anything is allocated for them.
constexpr uint32_t TGA_MAX_SIDE = 16384;
constexpr uint64_t TGA_MAX_PIXELS = uint64_t(1) << 24;

// Decodes a TGA file held in memory: true-colour (15, 16, 24, 32 bits), grey (8 bits) and
// colour-mapped (8-bit indexes), each stored plain or run-length coded. `image` is filled only on OK.
TgaResult decodeTga(std::span<const uint8_t> bytes, DecodedImage& image);
