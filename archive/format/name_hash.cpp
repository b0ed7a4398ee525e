#include "archive/format/name_hash.h"

uint64_t nameKey(std::string_view name) {
    uint32_t a = 0x7FED7FED;
    uint32_t b = 0xEEEEEEEE;
    for (const char ch : name) {
        const uint32_t c = asciiUpper(uint8_t(ch));
        a = (a + b) ^ hashTable[name_hash_detail::HASH_BLOCK + c];
        b = c + a + b + (b << 5) + 3;
    }
    return uint64_t(a) << 32 | b;
}
