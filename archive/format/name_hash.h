#pragma once
#include <array>
#include <cstdint>
#include <string_view>

#include "archive/format/entry_name.h"

constexpr size_t HASH_TABLE_SIZE = 1280;

namespace name_hash_detail {

constexpr uint32_t HASH_SEED = 0x00100001;
constexpr uint32_t HASH_MODULUS = 0x2AAAAB;
constexpr size_t HASH_BLOCK = 256;

// The generator's draws, two to an element, fill the five blocks interleaved: element 0 of each
// block in turn, then element 1 of each, and so on.
constexpr std::array<uint32_t, HASH_TABLE_SIZE> makeHashTable() {
    std::array<uint32_t, HASH_TABLE_SIZE> table{};
    uint32_t s = HASH_SEED;
    for (size_t i = 0; i < HASH_BLOCK; ++i) {
        for (size_t k = 0; k < HASH_TABLE_SIZE / HASH_BLOCK; ++k) {
            s = (s * 125 + 3) % HASH_MODULUS;
            const uint32_t hi = s & 0xFFFF;
            s = (s * 125 + 3) % HASH_MODULUS;
            const uint32_t lo = s & 0xFFFF;
            table[k * HASH_BLOCK + i] = (hi << 16) | lo;
        }
    }
    return table;
}

}  // namespace name_hash_detail

// Made by the compiler: nothing has to fill it before a name is hashed.
inline constexpr std::array<uint32_t, HASH_TABLE_SIZE> hashTable = name_hash_detail::makeHashTable();

// Hash of a name's bytes, ASCII letter case folded: equal names under the look-up's comparison get equal keys.
uint64_t nameKey(std::string_view name);
