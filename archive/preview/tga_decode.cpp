#include "archive/preview/tga_decode.h"

#include <algorithm>

namespace {

constexpr size_t HEADER_BYTES = 18;
constexpr size_t ID_LENGTH_AT = 0;
constexpr size_t MAP_TYPE_AT = 1;
constexpr size_t IMAGE_TYPE_AT = 2;
constexpr size_t MAP_FIRST_AT = 3;
constexpr size_t MAP_LENGTH_AT = 5;
constexpr size_t MAP_ENTRY_BITS_AT = 7;
constexpr size_t WIDTH_AT = 12;
constexpr size_t HEIGHT_AT = 14;
constexpr size_t PIXEL_BITS_AT = 16;
constexpr size_t DESCRIPTOR_AT = 17;
constexpr uint8_t DESCRIPTOR_RIGHT_TO_LEFT = 0x10;
constexpr uint8_t DESCRIPTOR_TOP_TO_BOTTOM = 0x20;
constexpr uint8_t DESCRIPTOR_ALPHA_BITS = 0x0F;

constexpr uint8_t TYPE_MAPPED = 1;
constexpr uint8_t TYPE_TRUE_COLOUR = 2;
constexpr uint8_t TYPE_GREY = 3;
constexpr uint8_t TYPE_RLE_FLAG = 8;
// A run-length packet: the high bit says repeat, the low seven bits count pixels less one.
constexpr uint8_t PACKET_REPEAT = 0x80;
constexpr size_t PACKET_MAX_PIXELS = 128;

uint16_t loadU16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

// Five bits a channel widened to eight, so that full intensity stays full.
uint8_t widen5(unsigned value) {
    return uint8_t(value << 3 | value >> 2);
}

struct PixelFormat {
    unsigned bytes;       // per stored pixel
    bool mapped;
    bool grey;
    bool alpha;           // 32-bit and 16-bit pixels with alpha bits declared
};

// One stored pixel (or colour-map entry) as BGRA.
void toBgra(const uint8_t* in, unsigned bytes, bool grey, bool alpha, uint8_t* out) {
    if (grey) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = 255;
        return;
    }
    switch (bytes) {
    case 2: {
        const unsigned value = loadU16(in);
        out[0] = widen5(value & 0x1F);
        out[1] = widen5(value >> 5 & 0x1F);
        out[2] = widen5(value >> 10 & 0x1F);
        out[3] = alpha ? (value & 0x8000 ? 255 : 0) : 255;
        break;
    }
    case 3:
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = 255;
        break;
    default:
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = alpha ? in[3] : 255;
        break;
    }
}

}  // namespace

// Every length is checked against the bytes that are there before it is used, and the picture's
// size is bounded before its buffer is allocated: the file may be damaged or made to hurt.
TgaResult decodeTga(std::span<const uint8_t> bytes, DecodedImage& image) {
    if (bytes.size() < HEADER_BYTES) {
        return TgaResult::TRUNCATED;
    }
    const uint8_t* const header = bytes.data();
    const uint8_t type = header[IMAGE_TYPE_AT];
    const uint8_t baseType = type & ~TYPE_RLE_FLAG;
    const bool rle = (type & TYPE_RLE_FLAG) != 0;
    const unsigned pixelBits = header[PIXEL_BITS_AT];
    const uint8_t descriptor = header[DESCRIPTOR_AT];
    const bool hasAlphaBits = (descriptor & DESCRIPTOR_ALPHA_BITS) != 0;

    PixelFormat format{};
    if (baseType == TYPE_TRUE_COLOUR && (pixelBits == 15 || pixelBits == 16 || pixelBits == 24 || pixelBits == 32)) {
        format = {(pixelBits + 7) / 8, false, false, pixelBits == 32 || (pixelBits == 16 && hasAlphaBits)};
    } else if (baseType == TYPE_GREY && pixelBits == 8) {
        format = {1, false, true, false};
    } else if (baseType == TYPE_MAPPED && pixelBits == 8 && header[MAP_TYPE_AT] == 1) {
        format = {1, true, false, false};
    } else {
        return TgaResult::UNSUPPORTED;
    }

    const uint32_t width = loadU16(header + WIDTH_AT);
    const uint32_t height = loadU16(header + HEIGHT_AT);
    if (width == 0 || height == 0) {
        return TgaResult::UNSUPPORTED;
    }
    const uint64_t pixels = uint64_t(width) * height;
    if (width > TGA_MAX_SIDE || height > TGA_MAX_SIDE || pixels > TGA_MAX_PIXELS) {
        return TgaResult::TOO_LARGE;
    }

    size_t at = HEADER_BYTES + header[ID_LENGTH_AT];
    // The colour map sits before the pixels whether or not the image type uses it.
    std::vector<uint8_t> palette;   // BGRA, 256 entries for mapped images
    if (header[MAP_TYPE_AT] == 1) {
        const unsigned first = loadU16(header + MAP_FIRST_AT);
        const unsigned length = loadU16(header + MAP_LENGTH_AT);
        const unsigned entryBits = header[MAP_ENTRY_BITS_AT];
        if (entryBits != 15 && entryBits != 16 && entryBits != 24 && entryBits != 32) {
            return TgaResult::UNSUPPORTED;
        }
        const unsigned entryBytes = (entryBits + 7) / 8;
        const size_t mapBytes = size_t(length) * entryBytes;
        if (at > bytes.size() || bytes.size() - at < mapBytes) {
            return TgaResult::TRUNCATED;
        }
        if (format.mapped) {
            // Indexes without an entry show black, as if the map were zero-filled.
            palette.assign(256 * 4, 0);
            for (unsigned i = 0; i < length && first + i < 256; ++i) {
                toBgra(bytes.data() + at + size_t(i) * entryBytes, entryBytes, false,
                       entryBits == 32 || (entryBits == 16 && hasAlphaBits), &palette[(first + i) * 4]);
            }
        }
        at += mapBytes;
    } else if (header[MAP_TYPE_AT] != 0) {
        return TgaResult::UNSUPPORTED;
    }
    if (at > bytes.size()) {
        return TgaResult::TRUNCATED;
    }
    const std::span<const uint8_t> data = bytes.subspan(at);
    // Plain data must hold every pixel; run-length data covers at most 128 pixels per packet byte.
    if (!rle && data.size() / format.bytes < pixels) {
        return TgaResult::TRUNCATED;
    }
    if (rle && data.size() * PACKET_MAX_PIXELS < pixels) {
        return TgaResult::TRUNCATED;
    }

    std::vector<uint8_t> out(size_t(pixels) * 4);
    const auto emit = [&](const uint8_t* stored, uint8_t* target) {
        if (format.mapped) {
            std::copy_n(&palette[size_t(stored[0]) * 4], 4, target);
        } else {
            toBgra(stored, format.bytes, format.grey, format.alpha, target);
        }
    };

    // Pixels in stored order first; the rows and columns are put upright afterwards.
    size_t in = 0;
    size_t done = 0;
    while (done < pixels) {
        if (!rle) {
            emit(data.data() + in, &out[done * 4]);
            in += format.bytes;
            ++done;
            continue;
        }
        if (in >= data.size()) {
            return TgaResult::TRUNCATED;
        }
        const uint8_t packet = data[in++];
        const size_t count = std::min<size_t>((packet & 0x7F) + 1, pixels - done);
        if (packet & PACKET_REPEAT) {
            if (data.size() - in < format.bytes) {
                return TgaResult::TRUNCATED;
            }
            emit(data.data() + in, &out[done * 4]);
            for (size_t k = 1; k < count; ++k) {
                std::copy_n(&out[done * 4], 4, &out[(done + k) * 4]);
            }
            in += format.bytes;
        } else {
            // A raw packet may claim more pixels than the picture has left; the extra ones are skipped.
            const size_t claimed = (packet & 0x7F) + 1;
            if ((data.size() - in) / format.bytes < claimed) {
                return TgaResult::TRUNCATED;
            }
            for (size_t k = 0; k < count; ++k) {
                emit(data.data() + in + k * format.bytes, &out[(done + k) * 4]);
            }
            in += claimed * format.bytes;
        }
        done += count;
    }

    const size_t rowBytes = size_t(width) * 4;
    if (!(descriptor & DESCRIPTOR_TOP_TO_BOTTOM)) {
        for (uint32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
            std::swap_ranges(out.begin() + top * rowBytes, out.begin() + (top + 1) * rowBytes,
                             out.begin() + bottom * rowBytes);
        }
    }
    if (descriptor & DESCRIPTOR_RIGHT_TO_LEFT) {
        for (uint32_t row = 0; row < height; ++row) {
            uint8_t* const line = &out[row * rowBytes];
            for (uint32_t left = 0, right = width - 1; left < right; ++left, --right) {
                std::swap_ranges(line + left * 4, line + left * 4 + 4, line + right * 4);
            }
        }
    }
    image.width = width;
    image.height = height;
    image.bgra = std::move(out);
    return TgaResult::OK;
}
