#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "archive/format/legacy_decode.h"
#include "tests/support/archive_writer.h"

namespace {

using Block = std::array<uint8_t, 8>;

uint64_t toBits(const Block& block) {
    uint64_t bits = 0;
    for (uint8_t b : block) bits = bits << 8 | b;
    return bits;
}

Block fromBits(uint64_t bits) {
    Block block{};
    for (int i = 7; i >= 0; --i, bits >>= 8) block[i] = uint8_t(bits);
    return block;
}

// IP from the DES standard, written out here independently of the decoder's copy.
constexpr uint8_t IP[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9, 1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7,
};

uint64_t permute(uint64_t in, const uint8_t* table) {
    uint64_t out = 0;
    for (int k = 0; k < 64; ++k) {
        if (in >> (64 - table[k]) & 1) out |= uint64_t(1) << (63 - k);
    }
    return out;
}

// IP⁻¹ ∘ (exchange halves) ∘ IP.
Block swapHalves(const Block& block) {
    uint8_t inverse[64];
    for (int k = 0; k < 64; ++k) inverse[IP[k] - 1] = uint8_t(k + 1);
    uint64_t bits = permute(toBits(block), IP);
    bits = bits << 32 | bits >> 32;
    return fromBits(permute(bits, inverse));
}

// With an all-zero key every subkey is zero, so full DES is sixteen of our rounds with the
// halves exchanged between them: Sw ∘ (Sw ∘ D)^16.
Block desWithZeroKey(Block block) {
    for (int round = 0; round < 16; ++round) {
        decodeBlock(block.data());
        block = swapHalves(block);
    }
    return swapHalves(block);
}

TEST(LegacyDecode, RoundMatchesDesWithAnAllZeroKey) {
    // Reference ciphertexts of DES-ECB with key 0000000000000000.
    const struct { uint64_t plain; uint64_t cipher; } vectors[] = {
        {0x0000000000000000ull, 0x8CA64DE9C1B123A7ull},
        {0x0123456789ABCDEFull, 0x617B3A0CE8F07100ull},
        {0xFFFFFFFFFFFFFFFFull, 0x355550B2150E2451ull},
        {0x4E6F772069732074ull, 0x7D65484BE578DD0Dull},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.plain);
        EXPECT_EQ(toBits(desWithZeroKey(fromBits(v.plain))), v.cipher);
    }
}

TEST(LegacyDecode, RoundIsItsOwnInverse) {
    Block block = fromBits(0x0011223344556677ull);
    const Block original = block;
    decodeBlock(block.data());
    EXPECT_NE(block, original);
    decodeBlock(block.data());
    EXPECT_EQ(block, original);
}

TEST(LegacyDecode, MixedPeriods) {
    const struct { int32_t coding; uint32_t period; } cases[] = {
        {0, 3}, {1, 3}, {2, 3}, {3, 4}, {4, 5}, {5, 14}, {6, 15}, {7, 22}, {10, 25},
    };
    for (const auto& c : cases) EXPECT_EQ(mixedPeriod(c.coding), c.period) << c.coding;
}

enum class Treatment { UNTOUCHED, ROUND, SHUFFLED };

// What decodeData did to each block of `blocks` distinct blocks.
std::vector<Treatment> classify(size_t blocks, int32_t coding) {
    std::vector<uint8_t> data = noiseData(blocks * 8, 42);
    for (size_t i = 0; i < blocks; ++i) data[i * 8 + 7] = 0x12;  // outside the substitution pairs
    const std::vector<uint8_t> original = data;
    decodeData(data.data(), data.size(), coding);
    std::vector<Treatment> out;
    for (size_t i = 0; i < blocks; ++i) {
        const uint8_t* in = original.data() + i * 8;
        const uint8_t* got = data.data() + i * 8;
        Block round;
        std::memcpy(round.data(), in, 8);
        decodeBlock(round.data());
        const Block shuffled = {in[3], in[4], in[6], in[0], in[1], in[2], in[5], in[7]};
        if (std::memcmp(got, in, 8) == 0) {
            out.push_back(Treatment::UNTOUCHED);
        } else if (std::memcmp(got, round.data(), 8) == 0) {
            out.push_back(Treatment::ROUND);
        } else if (std::memcmp(got, shuffled.data(), 8) == 0) {
            out.push_back(Treatment::SHUFFLED);
        } else {
            ADD_FAILURE() << "block " << i << " changed in an unknown way";
            out.push_back(Treatment::UNTOUCHED);
        }
    }
    return out;
}

TEST(LegacyDecode, MixedCodingDecodesEveryPeriodAndShufflesEveryEighthOtherBlock) {
    const auto treatment = classify(60, 1);
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(treatment[i], Treatment::ROUND) << i;
    for (size_t i : {21, 24, 27, 30, 33, 36, 39}) EXPECT_EQ(treatment[i], Treatment::ROUND) << i;
    // After block 19, the counter reaches 7 at the eighth block that is not decoded, then
    // restarts at 1, so every seventh undecoded block after that is shuffled.
    const size_t shuffled[] = {31, 41, 52};
    for (size_t i = 20; i < 60; ++i) {
        if (i % 3 == 0) continue;
        const bool expectShuffled = std::find(std::begin(shuffled), std::end(shuffled), i) != std::end(shuffled);
        EXPECT_EQ(treatment[i], expectShuffled ? Treatment::SHUFFLED : Treatment::UNTOUCHED) << i;
    }
}

TEST(LegacyDecode, HeaderOnlyTouchesOnlyTheFirstTwentyBlocks) {
    const auto treatment = classify(400, 0);
    for (size_t i = 0; i < 400; ++i) EXPECT_EQ(treatment[i], i < 20 ? Treatment::ROUND : Treatment::UNTOUCHED) << i;
}

TEST(LegacyDecode, ShortDataDecodeAlikeForEveryCoding) {
    const std::vector<uint8_t> original = noiseData(160 + 5, 3);  // a partial block at the end stays
    std::vector<uint8_t> reference = original;
    decodeData(reference.data(), reference.size(), 0);
    EXPECT_TRUE(std::equal(original.end() - 5, original.end(), reference.end() - 5));
    for (int32_t coding : {1, 2, 5, 9}) {
        std::vector<uint8_t> data = original;
        decodeData(data.data(), data.size(), coding);
        EXPECT_EQ(data, reference) << coding;
    }
}

TEST(LegacyDecode, ShuffleSubstitutesTheLastByte) {
    const struct { uint8_t in; uint8_t out; } cases[] = {
        {0x2B, 0x00}, {0x00, 0x2B}, {0x12, 0x12}, {0x68, 0x01}, {0xFF, 0x60}, {0xFE, 0xEB},
    };
    for (const auto& c : cases) {
        // Block 31 is the first shuffled one with coding 1.
        std::vector<uint8_t> data(32 * 8, 0x55);
        data[31 * 8 + 7] = c.in;
        decodeData(data.data(), data.size(), 1);
        EXPECT_EQ(data[31 * 8 + 7], c.out) << int(c.in);
    }
}

TEST(LegacyDecode, NameAreaSwapsNibblesBeforeEachRound) {
    Block area = fromBits(0x1234567890ABCDEFull);
    Block expected = fromBits(0x2143658709BADCFEull);
    decodeBlock(expected.data());
    decodeNameArea(area.data(), 8);
    EXPECT_EQ(area, expected);

    Block untouched = fromBits(0x1234567890ABCDEFull);
    for (ptrdiff_t length : {0, -3}) {
        decodeNameArea(untouched.data(), length);
        EXPECT_EQ(toBits(untouched), 0x1234567890ABCDEFull);
    }
}

TEST(LegacyDecode, EncoderInvertsDecoderForAllCodings) {
    for (int32_t coding : {0, 1, 3, 4, 5, 7, 10}) {
        SCOPED_TRACE(coding);
        const std::vector<uint8_t> original = noiseData(8 * 300 + 3, uint32_t(coding) + 9);
        std::vector<uint8_t> data = original;
        encodeData(data.data(), data.size(), coding);
        EXPECT_NE(data, original);
        decodeData(data.data(), data.size(), coding);
        EXPECT_EQ(data, original);
    }
}

}  // namespace
