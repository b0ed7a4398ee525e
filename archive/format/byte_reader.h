#pragma once
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "archive/format/little_endian.h"

// Little-endian fields from a span. Reading past the end yields zeros and clears ok(),
// so a parser checks once per record instead of once per field.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes(bytes) {}

    uint8_t u8() {
        if (!need(1)) return 0;
        return bytes[position++];
    }
    uint32_t u32() {
        if (!need(4)) return 0;
        const uint32_t value = loadU32(bytes.data() + position);
        position += 4;
        return value;
    }
    std::span<const uint8_t> take(size_t count) {
        if (!need(count)) return {};
        const auto piece = bytes.subspan(position, count);
        position += count;
        return piece;
    }
    void skip(size_t count) { take(count); }
    // The bytes up to a zero byte found within `maxBytes`, which is consumed too; nullopt
    // (and not ok) when there is none.
    std::optional<std::string_view> cString(size_t maxBytes) {
        const size_t limit = std::min<size_t>(maxBytes + 1, remaining());
        const void* zero = limit ? std::memchr(bytes.data() + position, 0, limit) : nullptr;
        if (!zero) {
            valid = false;
            return std::nullopt;
        }
        const size_t length = static_cast<const uint8_t*>(zero) - (bytes.data() + position);
        std::string_view text(reinterpret_cast<const char*>(bytes.data() + position), length);
        position += length + 1;
        return text;
    }
    uint64_t remaining() const { return bytes.size() - position; }
    size_t offset() const { return position; }
    bool ok() const { return valid; }
    void invalidate() { valid = false; }

private:
    bool need(size_t count) {
        if (!valid || count > remaining()) {
            valid = false;
            position = bytes.size();
            return false;
        }
        return true;
    }

    std::span<const uint8_t> bytes;
    size_t position = 0;
    bool valid = true;
};
