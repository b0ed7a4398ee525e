// The block decoding on arbitrary buffers, lengths and codings: it must stay inside the length it
// is given and undo the writers' coding exactly.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/format/legacy_decode.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/archive_writer.h"

namespace {

constexpr size_t BLOCK = 8;
constexpr size_t CONTROL_BYTES = 6;

uint32_t readU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// An allocation of exactly `length` bytes, so AddressSanitizer sees any step past it.
std::unique_ptr<uint8_t[]> copyOf(const uint8_t* data, size_t length) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[length ? length : 1]);
    if (length) std::memcpy(copy.get(), data, length);
    return copy;
}

void checkData(const uint8_t* data, size_t length, int32_t coding) {
    auto buffer = copyOf(data, length);
    decodeData(buffer.get(), length, coding);
    const size_t whole = length / BLOCK * BLOCK;
    // A trailing partial block is left as it is, and no coding means no change at all.
    FUZZ_CHECK(std::memcmp(buffer.get() + whole, data + whole, length - whole) == 0);
    if (coding < 0) FUZZ_CHECK(length == 0 || std::memcmp(buffer.get(), data, length) == 0);
    encodeData(buffer.get(), length, coding);
    FUZZ_CHECK(length == 0 || std::memcmp(buffer.get(), data, length) == 0);
}

void checkNameArea(const uint8_t* data, size_t size, ptrdiff_t length) {
    // The area is decoded in whole blocks: the caller provides the bytes up to the last one.
    const size_t covered = length > 0 ? (size_t(length) + BLOCK - 1) / BLOCK * BLOCK : 0;
    std::vector<uint8_t> original(std::max<size_t>(covered, 1));
    for (size_t i = 0; i < original.size(); ++i) original[i] = size ? data[i % size] : uint8_t(i);
    auto buffer = copyOf(original.data(), covered);
    decodeNameArea(buffer.get(), length);
    if (covered == 0) return;
    if (size_t(length) == covered) {
        encodeNameArea(buffer.get(), covered);
        FUZZ_CHECK(std::memcmp(buffer.get(), original.data(), covered) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < CONTROL_BYTES) return 0;
    // Codings from the whole 32-bit range, bent towards the ones archives really use.
    const uint32_t rawCoding = readU32(data);
    int32_t coding = int32_t(rawCoding % 16) - 1;
    if ((rawCoding >> 30) == 2) coding = int32_t(rawCoding);                 // negative
    if ((rawCoding >> 30) == 3) coding = int32_t(rawCoding & 0x7FFFFFFFu);   // far beyond a digit count
    // Name lengths from -128 to 1919, the longest a record's area could be and then some.
    const ptrdiff_t nameLength = ptrdiff_t(uint16_t(data[4] | data[5] << 8) % 2048) - 128;
    const uint8_t* payload = data + CONTROL_BYTES;
    const size_t payloadSize = size - CONTROL_BYTES;

    checkData(payload, payloadSize, coding);
    checkNameArea(payload, payloadSize, nameLength);
    return 0;
}
