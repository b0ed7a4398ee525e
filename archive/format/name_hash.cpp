#include "archive/format/name_hash.h"

std::array<uint32_t, HASH_TABLE_SIZE> hashTable{};

namespace {

constexpr uint32_t HASH_SEED = 0x00100001;
constexpr uint32_t HASH_MODULUS = 0x2AAAAB;
constexpr size_t HASH_BLOCK = 256;
constexpr size_t HASH_BLOCKS = HASH_TABLE_SIZE / HASH_BLOCK;

}  // namespace

void buildHashTable() {
    uint32_t s = HASH_SEED;
    for (size_t i = 0; i < HASH_BLOCK; ++i) {
        for (size_t k = 0; k < HASH_BLOCKS; ++k) {
            s = (s * 125 + 3) % HASH_MODULUS;
            const uint32_t hi = s & 0xFFFF;
            s = (s * 125 + 3) % HASH_MODULUS;
            const uint32_t lo = s & 0xFFFF;
            hashTable[k * HASH_BLOCK + i] = (hi << 16) | lo;
        }
    }
}

uint64_t nameKey(std::string_view name) {
    uint32_t a = 0x7FED7FED;
    uint32_t b = 0xEEEEEEEE;
    for (const char ch : name) {
        const uint32_t c = asciiUpper(uint8_t(ch));
        a = (a + b) ^ hashTable[HASH_BLOCK + c];
        b = c + a + b + (b << 5) + 3;
    }
    return uint64_t(a) << 32 | b;
}
