#pragma once
#include <array>
#include <cstdint>
#include <string_view>

#include "archive/format/entry_name.h"

constexpr size_t HASH_TABLE_SIZE = 1280;
extern std::array<uint32_t, HASH_TABLE_SIZE> hashTable;

// Fills hashTable; once, before any name is hashed.
void buildHashTable();
// Hash of a name's bytes, ASCII letter case folded: equal names under the look-up's comparison get equal keys.
uint64_t nameKey(std::string_view name);
