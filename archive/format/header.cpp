#include "archive/format/header.h"

#include "archive/format/little_endian.h"

#include <cstring>

namespace {

constexpr char MAGIC_TEXT[] = "Master of Magic";  // 15 characters and the zero byte
constexpr size_t MAGIC_OFFSET = 0;
constexpr size_t FILL_OFFSET = 16;
constexpr size_t TABLE_OFFSET_OFFSET = 30;
constexpr size_t COUNT_BIAS_OFFSET = 34;
constexpr size_t RAW_COUNT_OFFSET = 38;
constexpr size_t VERSION_OFFSET = 42;
// rawCount carries the record count plus this constant.
constexpr int32_t RAW_COUNT_EXTRA = 7;
}  // namespace

GrfHeader GrfHeader::empty() {
    GrfHeader header;
    std::memcpy(header.magic.data(), MAGIC_TEXT, sizeof(MAGIC_TEXT));
    for (size_t i = 0; i < header.headerFill.size(); ++i) header.headerFill[i] = uint8_t(i + 1);
    header.tableOffset = HEADER_SIZE;
    header.countBias = 0;
    header.rawCount = RAW_COUNT_EXTRA;
    header.version = VERSION_CURRENT;
    return header;
}

GrfHeader GrfHeader::parse(std::span<const uint8_t, HEADER_SIZE> bytes) {
    GrfHeader header;
    std::memcpy(header.magic.data(), bytes.data() + MAGIC_OFFSET, header.magic.size());
    std::memcpy(header.headerFill.data(), bytes.data() + FILL_OFFSET, header.headerFill.size());
    header.tableOffset = loadU32(bytes.data() + TABLE_OFFSET_OFFSET);
    header.countBias = loadU32(bytes.data() + COUNT_BIAS_OFFSET);
    header.rawCount = loadU32(bytes.data() + RAW_COUNT_OFFSET);
    header.version = loadU32(bytes.data() + VERSION_OFFSET);
    return header;
}

std::array<uint8_t, HEADER_SIZE> GrfHeader::serialize() const {
    std::array<uint8_t, HEADER_SIZE> bytes{};
    std::memcpy(bytes.data() + MAGIC_OFFSET, magic.data(), magic.size());
    std::memcpy(bytes.data() + FILL_OFFSET, headerFill.data(), headerFill.size());
    storeU32(bytes.data() + TABLE_OFFSET_OFFSET, tableOffset);
    storeU32(bytes.data() + COUNT_BIAS_OFFSET, countBias);
    storeU32(bytes.data() + RAW_COUNT_OFFSET, rawCount);
    storeU32(bytes.data() + VERSION_OFFSET, version);
    return bytes;
}

bool GrfHeader::hasMagic() const {
    // Compared as a terminated string: the zero byte after the 15 characters counts.
    return std::memcmp(magic.data(), MAGIC_TEXT, sizeof(MAGIC_TEXT)) == 0;
}

uint32_t GrfHeader::recordCount() const {
    const int32_t count = int32_t(rawCount - countBias - uint32_t(RAW_COUNT_EXTRA));
    return count > 0 ? uint32_t(count) : 0;
}

bool GrfHeader::isSupportedVersion() const {
    return (version >= 0x100 && version <= 0x104) || version == VERSION_CURRENT;
}
