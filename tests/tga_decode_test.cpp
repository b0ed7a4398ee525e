// The TGA decoder behind the preview: every layout it takes, and files that are cut or made to hurt.
#include <gtest/gtest.h>

#include "archive/preview/tga_decode.h"
#include "tests/support/tga_writer.h"

namespace {

uint8_t widen5(uint8_t value) {
    const unsigned five = value >> 3;
    return uint8_t(five << 3 | five >> 2);
}

// What the decoder should give for `picture` stored in `layout`.
std::vector<uint8_t> expectedPixels(const TgaPicture& picture, const TgaLayout& layout) {
    std::vector<uint8_t> out = picture.bgra;
    for (size_t i = 0; i < out.size(); i += 4) {
        if (layout.kind == TgaLayout::GREY) {
            out[i] = out[i + 2] = out[i + 1];
            out[i + 3] = 255;
        } else if (layout.kind == TgaLayout::TRUE_COLOUR && layout.bits == 24) {
            out[i + 3] = 255;
        } else if (layout.kind == TgaLayout::TRUE_COLOUR && layout.bits == 16) {
            for (int k = 0; k < 3; ++k) out[i + k] = widen5(out[i + k]);
            out[i + 3] = out[i + 3] >= 128 ? 255 : 0;
        }
    }
    return out;
}

TEST(TgaDecode, DecodesEveryLayoutPlainAndRunLengthCoded) {
    const TgaPicture picture = samplePicture(9, 5);
    const struct { const char* what; TgaLayout layout; } cases[] = {
        {"24-bit, bottom up", {TgaLayout::TRUE_COLOUR, 24}},
        {"32-bit, top down", {TgaLayout::TRUE_COLOUR, 32, false, true}},
        {"32-bit, right to left", {TgaLayout::TRUE_COLOUR, 32, false, false, true}},
        {"16-bit with an alpha bit", {TgaLayout::TRUE_COLOUR, 16}},
        {"grey", {TgaLayout::GREY, 8}},
        {"colour-mapped", {TgaLayout::MAPPED, 8}},
    };
    for (const auto& c : cases) {
        for (const bool rle : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.what << (rle ? ", run-length" : ", plain"));
            TgaLayout layout = c.layout;
            layout.rle = rle;
            DecodedImage image;
            ASSERT_EQ(decodeTga(writeTga(picture, layout), image), TgaResult::OK);
            EXPECT_EQ(image.width, 9u);
            EXPECT_EQ(image.height, 5u);
            EXPECT_EQ(image.bgra, expectedPixels(picture, layout));
        }
    }
}

TEST(TgaDecode, RefusesCutAndHostileFilesWithoutAllocatingForThem) {
    const TgaPicture picture = samplePicture(6, 4);
    const std::vector<uint8_t> plain = writeTga(picture, {TgaLayout::TRUE_COLOUR, 32});
    const std::vector<uint8_t> rle = writeTga(picture, {TgaLayout::TRUE_COLOUR, 24, true});
    const std::vector<uint8_t> mapped = writeTga(picture, {TgaLayout::MAPPED, 8});
    const auto with = [](std::vector<uint8_t> bytes, size_t at, std::initializer_list<uint8_t> values) {
        for (const uint8_t v : values) bytes[at++] = v;
        return bytes;
    };
    const auto cut = [](std::vector<uint8_t> bytes, size_t drop) {
        bytes.resize(bytes.size() - drop);
        return bytes;
    };
    const struct { const char* what; std::vector<uint8_t> bytes; TgaResult expected; } cases[] = {
        {"shorter than a header", std::vector<uint8_t>(17, 0), TgaResult::TRUNCATED},
        {"plain pixels cut by one byte", cut(plain, 1), TgaResult::TRUNCATED},
        {"run-length data cut by one byte", cut(rle, 1), TgaResult::TRUNCATED},
        {"colour map cut", cut(mapped, mapped.size() - 30), TgaResult::TRUNCATED},
        {"image id longer than the file", with(plain, 0, {255}), TgaResult::TRUNCATED},
        {"compressed colour types", with(plain, 2, {32}), TgaResult::UNSUPPORTED},
        {"no image", with(plain, 2, {0}), TgaResult::UNSUPPORTED},
        {"12-bit pixels", with(plain, 16, {12}), TgaResult::UNSUPPORTED},
        {"zero width", with(plain, 12, {0, 0}), TgaResult::UNSUPPORTED},
        {"mapped without a map", with(mapped, 1, {0}), TgaResult::UNSUPPORTED},
        {"colour map of 7-bit entries", with(mapped, 7, {7}), TgaResult::UNSUPPORTED},
        {"65535 × 65535 claimed", with(plain, 12, {255, 255, 255, 255}), TgaResult::TOO_LARGE},
        {"16384 × 16384 claimed", with(plain, 12, {0, 64, 0, 64}), TgaResult::TOO_LARGE},
        {"4096 × 4096 claimed over 96 bytes", with(plain, 12, {0, 16, 0, 16}), TgaResult::TRUNCATED},
        {"4096 × 4096 run-length over a few packets", with(rle, 12, {0, 16, 0, 16}), TgaResult::TRUNCATED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DecodedImage image;
        EXPECT_EQ(decodeTga(c.bytes, image), c.expected);
        EXPECT_TRUE(image.bgra.empty());
    }
}

TEST(TgaDecode, RunLengthPacketsMayCrossRowsAndOverrunTheLastPixel) {
    // One repeat packet of 128 black pixels for a 10 × 3 picture: the surplus is ignored.
    std::vector<uint8_t> bytes = writeTga(TgaPicture{10, 3, std::vector<uint8_t>(120, 0)}, {TgaLayout::GREY, 8});
    bytes.resize(18);
    bytes[2] = 11;
    bytes.push_back(0xFF);
    bytes.push_back(0x7F);
    DecodedImage image;
    ASSERT_EQ(decodeTga(bytes, image), TgaResult::OK);
    std::vector<uint8_t> grey;
    for (int i = 0; i < 30; ++i) grey.insert(grey.end(), {0x7F, 0x7F, 0x7F, 0xFF});
    EXPECT_EQ(image.bgra, grey);
}

}  // namespace
