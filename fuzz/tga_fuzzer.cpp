// The TGA decoder on arbitrary bytes: it must stay inside the buffer it is given, never allocate
// beyond its bound, and hand back a picture whose size matches its buffer.
#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/preview/tga_decode.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so AddressSanitizer sees any read past the end.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    DecodedImage image;
    const TgaResult result = decodeTga({copy.get(), size}, image);
    if (result != TgaResult::OK) {
        FUZZ_CHECK(image.bgra.empty());
        return 0;
    }
    FUZZ_CHECK(image.width > 0 && image.width <= TGA_MAX_SIDE);
    FUZZ_CHECK(image.height > 0 && image.height <= TGA_MAX_SIDE);
    FUZZ_CHECK(uint64_t(image.width) * image.height <= TGA_MAX_PIXELS);
    FUZZ_CHECK(image.bgra.size() == size_t(image.width) * image.height * 4);
    return 0;
}
