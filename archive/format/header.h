#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>

constexpr size_t HEADER_SIZE = 46;
constexpr uint32_t VERSION_CURRENT = 0x200;

// The fixed header at position 0 of every archive.
struct GrfHeader {
    std::array<uint8_t, 16> magic{};
    std::array<uint8_t, 14> headerFill{};
    uint32_t tableOffset = 0;  // table position - HEADER_SIZE
    uint32_t countBias = 0;
    uint32_t rawCount = 0;     // records + countBias + 7
    uint32_t version = 0;

    // The header of an empty archive, as create writes it.
    static GrfHeader empty();
    static GrfHeader parse(std::span<const uint8_t, HEADER_SIZE> bytes);
    std::array<uint8_t, HEADER_SIZE> serialize() const;
    bool hasMagic() const;
    // Records announced; 0 when rawCount - countBias - 7 is zero or less.
    uint32_t recordCount() const;
    uint32_t majorVersion() const { return (version >> 8) & 0xFF; }
    bool isSupportedVersion() const;
};
