#include "archive/format/legacy_decode.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr size_t BLOCK_BYTES = 8;
// Blocks at the start of coded data that always go through the round.
constexpr size_t ALWAYS_DECODED_BLOCKS = 20;

// The published DES tables, bit 1 being the most significant bit of the first byte.
constexpr uint8_t INITIAL_PERMUTATION[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9, 1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7,
};
constexpr uint8_t ROUND_PERMUTATION[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1, 15, 23, 26, 5, 18, 31, 10,
    2, 8, 24, 14, 32, 27, 3, 9, 19, 13, 30, 6, 22, 11, 4, 25,
};
constexpr uint8_t SUBSTITUTION[8][64] = {
    {14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7,
     0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8,
     4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0,
     15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13},
    {15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10,
     3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15,
     13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8,
     13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1,
     13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7,
     1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12},
    {7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15,
     13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9,
     10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4,
     3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14},
    {2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9,
     14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6,
     4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14,
     11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3},
    {12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11,
     10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8,
     9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6,
     4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13},
    {4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1,
     13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6,
     1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2,
     6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12},
    {13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7,
     1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2,
     7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8,
     2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11},
};

// Byte pairs the shuffle exchanges in the last byte of a block.
constexpr std::array<uint8_t, 256> makeSubstitution() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) table[i] = uint8_t(i);
    constexpr uint8_t PAIRS[][2] = {{0x00, 0x2B}, {0x01, 0x68}, {0x48, 0x77}, {0x60, 0xFF},
                                    {0x6C, 0x80}, {0xB9, 0xC0}, {0xEB, 0xFE}};
    for (const auto& pair : PAIRS) {
        table[pair[0]] = pair[1];
        table[pair[1]] = pair[0];
    }
    return table;
}
constexpr std::array<uint8_t, 256> SHUFFLE_SUBSTITUTION = makeSubstitution();

// The bit permutations become tables built once: a permutation is linear over XOR, so the
// image of a block is the OR of the images of its bytes. A bit loop per block would cost
// about 64 steps per permutation, which matters on entries of many megabytes.
struct RoundTables {
    uint64_t initial[8][256];
    uint64_t final[8][256];
    uint32_t substitution[8][64];  // S-box i on a 6-bit group, already through P

    RoundTables() {
        uint8_t inverse[64];
        for (int k = 0; k < 64; ++k) inverse[INITIAL_PERMUTATION[k] - 1] = uint8_t(k + 1);
        for (int position = 0; position < 8; ++position) {
            for (int value = 0; value < 256; ++value) {
                const uint64_t block = uint64_t(value) << (56 - 8 * position);
                initial[position][value] = permute64(block, INITIAL_PERMUTATION);
                final[position][value] = permute64(block, inverse);
            }
        }
        for (int box = 0; box < 8; ++box) {
            for (int group = 0; group < 64; ++group) {
                const int row = ((group >> 4) & 2) | (group & 1);
                const int column = (group >> 1) & 0xF;
                const uint32_t nibble = SUBSTITUTION[box][row * 16 + column];
                const uint32_t beforeP = nibble << (28 - 4 * box);
                uint32_t afterP = 0;
                for (int k = 0; k < 32; ++k) {
                    if (beforeP >> (32 - ROUND_PERMUTATION[k]) & 1) afterP |= 1u << (31 - k);
                }
                substitution[box][group] = afterP;
            }
        }
    }

    static uint64_t permute64(uint64_t in, const uint8_t* table) {
        uint64_t out = 0;
        for (int k = 0; k < 64; ++k) {
            if (in >> (64 - table[k]) & 1) out |= uint64_t(1) << (63 - k);
        }
        return out;
    }
};

const RoundTables& roundTables() {
    static const RoundTables tables;
    return tables;
}

inline uint64_t applyByteTable(const uint64_t (&table)[8][256], uint64_t block) {
    uint64_t out = 0;
    for (int position = 0; position < 8; ++position) {
        out |= table[position][(block >> (56 - 8 * position)) & 0xFF];
    }
    return out;
}

inline uint32_t rotateLeft(uint32_t value, unsigned count) {
    count &= 31;
    return count ? (value << count) | (value >> (32 - count)) : value;
}

inline void decodeBlockWith(const RoundTables& tables, uint8_t* block) {
    uint64_t bits = 0;
    for (size_t i = 0; i < BLOCK_BYTES; ++i) bits = bits << 8 | block[i];
    bits = applyByteTable(tables.initial, bits);
    const uint32_t right = uint32_t(bits);
    // The expansion's group i is bits 4i to 4i+5 of R, wrapping round from bit 32 to bit 1.
    uint32_t f = 0;
    for (unsigned box = 0; box < 8; ++box) {
        const uint32_t group = rotateLeft(right, 4 * box + 31) >> 26;
        f |= tables.substitution[box][group];
    }
    bits ^= uint64_t(f) << 32;
    bits = applyByteTable(tables.final, bits);
    for (size_t i = BLOCK_BYTES; i-- > 0;) {
        block[i] = uint8_t(bits);
        bits >>= 8;
    }
}

inline void shuffleBlock(uint8_t* block) {
    uint8_t in[BLOCK_BYTES];
    std::memcpy(in, block, BLOCK_BYTES);
    block[0] = in[3];
    block[1] = in[4];
    block[2] = in[6];
    block[3] = in[0];
    block[4] = in[1];
    block[5] = in[2];
    block[6] = in[5];
    block[7] = SHUFFLE_SUBSTITUTION[in[7]];
}

}  // namespace

void decodeBlock(uint8_t* block) {
    decodeBlockWith(roundTables(), block);
}

void decodeNameArea(uint8_t* area, ptrdiff_t length) {
    if (length <= 0) return;
    const RoundTables& tables = roundTables();
    const size_t blocks = (size_t(length) + BLOCK_BYTES - 1) / BLOCK_BYTES;
    for (size_t i = 0; i < blocks; ++i) {
        uint8_t* block = area + i * BLOCK_BYTES;
        for (size_t b = 0; b < BLOCK_BYTES; ++b) block[b] = uint8_t(block[b] << 4 | block[b] >> 4);
        decodeBlockWith(tables, block);
    }
}

uint32_t mixedPeriod(int32_t coding) {
    if (coding < 3) return 3;
    if (coding < 5) return uint32_t(coding) + 1;
    if (coding < 7) return uint32_t(coding) + 9;
    return uint32_t(coding) + 15;
}

void decodeData(uint8_t* data, size_t length, int32_t coding) {
    if (coding < 0) return;
    const RoundTables& tables = roundTables();
    const size_t blocks = length / BLOCK_BYTES;
    const size_t headBlocks = std::min(blocks, ALWAYS_DECODED_BLOCKS);
    for (size_t i = 0; i < headBlocks; ++i) decodeBlockWith(tables, data + i * BLOCK_BYTES);
    // Header-only coding touches nothing after the first blocks.
    if (coding == 0) return;

    const size_t period = mixedPeriod(coding);
    // Most blocks are left alone, so the walk jumps from one block that needs work to the next
    // instead of stepping through each: to the next multiple of the period (a round), and within
    // the stretch before it to the block where the counter reaches 7 (a shuffle).
    size_t untilRound = (period - ALWAYS_DECODED_BLOCKS % period) % period;
    size_t counter = 0;
    size_t i = ALWAYS_DECODED_BLOCKS;
    while (i < blocks) {
        if (untilRound == 0) {
            decodeBlockWith(tables, data + i * BLOCK_BYTES);
            ++i;
            untilRound = period - 1;
            continue;
        }
        size_t stretch = std::min(untilRound, blocks - i);
        untilRound -= stretch;
        while (stretch > 0) {
            const size_t untilShuffle = 7 - counter;
            if (untilShuffle >= stretch) {
                counter += stretch;
                i += stretch;
                break;
            }
            i += untilShuffle;
            shuffleBlock(data + i * BLOCK_BYTES);
            ++i;
            counter = 1;
            stretch -= untilShuffle + 1;
        }
    }
}
