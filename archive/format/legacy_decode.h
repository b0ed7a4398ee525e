#pragma once
#include <cstddef>
#include <cstdint>

// One keyless DES round, in place.
void decodeBlock(uint8_t* block);
// A legacy record's name area: nibble swap, then one round per 8-byte block; nothing when length <= 0.
void decodeNameArea(uint8_t* area, ptrdiff_t length);
// Stored data of coding >= 0 (0 header-only, n mixed); a trailing partial block is left as it is.
void decodeData(uint8_t* data, size_t length, int32_t coding);
// The shuffle period for mixed coding `coding`.
uint32_t mixedPeriod(int32_t coding);
