#include "tests/support/tga_writer.h"

#include <algorithm>
#include <array>
#include <map>

namespace {

void appendU16(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

}  // namespace

std::vector<uint8_t> writeTga(const TgaPicture& picture, const TgaLayout& layout) {
    const size_t count = size_t(picture.width) * picture.height;
    // The pixels in the file's order.
    std::vector<size_t> order;
    for (uint32_t r = 0; r < picture.height; ++r) {
        const uint32_t row = layout.topDown ? r : picture.height - 1 - r;
        for (uint32_t c = 0; c < picture.width; ++c) {
            const uint32_t column = layout.rightToLeft ? picture.width - 1 - c : c;
            order.push_back(size_t(row) * picture.width + column);
        }
    }
    std::map<std::array<uint8_t, 4>, uint8_t> palette;
    std::vector<std::array<uint8_t, 4>> paletteList;
    const auto colourAt = [&](size_t pixel) {
        return std::array<uint8_t, 4>{picture.bgra[pixel * 4], picture.bgra[pixel * 4 + 1],
                                      picture.bgra[pixel * 4 + 2], picture.bgra[pixel * 4 + 3]};
    };
    if (layout.kind == TgaLayout::MAPPED) {
        for (size_t i = 0; i < count; ++i) {
            if (palette.emplace(colourAt(i), uint8_t(paletteList.size())).second) paletteList.push_back(colourAt(i));
        }
    }
    const auto stored = [&](size_t pixel) {
        const auto c = colourAt(pixel);
        switch (layout.kind) {
        case TgaLayout::GREY: return std::vector<uint8_t>{c[1]};
        case TgaLayout::MAPPED: return std::vector<uint8_t>{palette.at(c)};
        default: break;
        }
        if (layout.bits == 16) {
            const unsigned value = (c[0] >> 3) | (c[1] >> 3) << 5 | (c[2] >> 3) << 10 | (c[3] >= 128 ? 0x8000 : 0);
            return std::vector<uint8_t>{uint8_t(value), uint8_t(value >> 8)};
        }
        if (layout.bits == 24) return std::vector<uint8_t>{c[0], c[1], c[2]};
        return std::vector<uint8_t>{c[0], c[1], c[2], c[3]};
    };

    std::vector<uint8_t> out;
    const bool mapped = layout.kind == TgaLayout::MAPPED;
    out.push_back(0);                    // no image id
    out.push_back(mapped ? 1 : 0);
    const uint8_t type = layout.kind == TgaLayout::TRUE_COLOUR ? 2 : layout.kind == TgaLayout::GREY ? 3 : 1;
    out.push_back(uint8_t(type | (layout.rle ? 8 : 0)));
    appendU16(out, 0);
    appendU16(out, mapped ? unsigned(paletteList.size()) : 0);
    out.push_back(mapped ? 32 : 0);
    appendU16(out, 0);
    appendU16(out, 0);
    appendU16(out, picture.width);
    appendU16(out, picture.height);
    out.push_back(uint8_t(layout.kind == TgaLayout::TRUE_COLOUR ? layout.bits : 8));
    const uint8_t alphaBits = layout.kind == TgaLayout::TRUE_COLOUR ? (layout.bits == 32 ? 8 : layout.bits == 16 ? 1 : 0)
                                                                    : 0;
    out.push_back(uint8_t(alphaBits | (layout.rightToLeft ? 0x10 : 0) | (layout.topDown ? 0x20 : 0)));
    for (const auto& c : paletteList) out.insert(out.end(), c.begin(), c.end());

    if (!layout.rle) {
        for (const size_t pixel : order) {
            const auto bytes = stored(pixel);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
        return out;
    }
    // Runs of equal stored pixels become repeat packets, everything else raw packets; packets
    // cross row ends, as the format allows.
    for (size_t i = 0; i < order.size();) {
        size_t run = 1;
        while (i + run < order.size() && run < 128 && stored(order[i + run]) == stored(order[i])) ++run;
        if (run > 1) {
            out.push_back(uint8_t(0x80 | (run - 1)));
            const auto bytes = stored(order[i]);
            out.insert(out.end(), bytes.begin(), bytes.end());
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < order.size() && raw < 128 &&
               (i + raw + 1 >= order.size() || stored(order[i + raw]) != stored(order[i + raw + 1]))) {
            ++raw;
        }
        out.push_back(uint8_t(raw - 1));
        for (size_t k = 0; k < raw; ++k) {
            const auto bytes = stored(order[i + k]);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
        i += raw;
    }
    return out;
}

TgaPicture samplePicture(uint32_t width, uint32_t height) {
    TgaPicture picture{width, height, {}};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            // Runs of equal pixels along the left half of each row, distinct ones elsewhere.
            const bool flat = x < width / 2;
            picture.bgra.push_back(uint8_t(flat ? 0x40 : x * 37));
            picture.bgra.push_back(uint8_t(flat ? 0x80 : y * 53));
            picture.bgra.push_back(uint8_t(flat ? 0xC0 : (x + y) * 29));
            picture.bgra.push_back(uint8_t(flat || (x + y) % 2 ? 255 : 0));
        }
    }
    return picture;
}
