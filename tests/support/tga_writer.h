#pragma once
#include <cstdint>
#include <vector>

// TGA files made from a picture, for the decoder's tests, the preview's and the fuzz seeds.
struct TgaPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bgra;   // top row first
};

struct TgaLayout {
    enum Kind { TRUE_COLOUR, GREY, MAPPED } kind = TRUE_COLOUR;
    unsigned bits = 24;          // true colour: 16, 24 or 32
    bool rle = false;
    bool topDown = false;        // the file's usual order is bottom row first
    bool rightToLeft = false;
};

// Grey takes the green channel; mapped builds a palette of the picture's colours (at most 256).
std::vector<uint8_t> writeTga(const TgaPicture& picture, const TgaLayout& layout);
// A small picture of distinct colours with alpha, so any misplaced pixel shows.
TgaPicture samplePicture(uint32_t width, uint32_t height);
