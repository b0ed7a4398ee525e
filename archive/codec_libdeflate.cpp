#include "archive/codec.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <libdeflate.h>

namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};
struct DecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
};

// A compressor holds several hundred KiB of tables; each thread keeps one for the level it used
// last instead of building one per entry. A compressor is not shared between threads.
libdeflate_compressor* compressorFor(int level) {
    thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> compressor;
    thread_local int compressorLevel = -1;
    if (!compressor || compressorLevel != level) {
        compressor.reset(libdeflate_alloc_compressor(level));
        compressorLevel = compressor ? level : -1;
    }
    return compressor.get();
}

libdeflate_decompressor* decompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> instance{libdeflate_alloc_decompressor()};
    return instance.get();
}

}  // namespace

const char16_t* codecName() {
    return u"libdeflate";
}

uint64_t deflateCapacity(uint64_t length) {
    // The library's bound does not depend on the level when no compressor is given.
    return libdeflate_zlib_compress_bound(nullptr, static_cast<size_t>(length));
}

bool deflateStream(std::span<const uint8_t> input, int level, std::vector<uint8_t>& output,
                   const std::function<void(size_t consumed)>& onChunk) {
    if (level < 0 || level > 9) {
        return false;
    }
    libdeflate_compressor* compressor = compressorFor(level);
    if (compressor == nullptr) {
        return false;
    }
    output.resize(libdeflate_zlib_compress_bound(compressor, input.size()));
    // One call for the whole buffer: the library has no streaming mode, so the listener hears of
    // the input only once it is all compressed.
    const size_t produced =
        libdeflate_zlib_compress(compressor, input.data(), input.size(), output.data(), output.size());
    if (produced == 0) {
        return false;
    }
    output.resize(produced);
    if (onChunk) {
        onChunk(input.size());
    }
    return true;
}

std::optional<size_t> inflateStream(std::span<const uint8_t> input, std::span<uint8_t> output,
                                    const std::function<void(size_t consumed)>& onChunk) {
    libdeflate_decompressor* instance = decompressor();
    if (instance == nullptr) {
        return std::nullopt;
    }
    size_t consumed = 0;
    size_t produced = 0;
    // The library wants a valid pointer even when there is no room: an empty entry still has a
    // stream to check.
    uint8_t noRoom = 0;
    const libdeflate_result result =
        libdeflate_zlib_decompress_ex(instance, input.data(), input.size(), output.empty() ? &noRoom : output.data(),
                                      output.size(), &consumed, &produced);
    if (onChunk) {
        // A damaged stream tells nothing of how far it got: all of it was looked at.
        onChunk(result == LIBDEFLATE_SUCCESS ? consumed : input.size());
    }
    if (result != LIBDEFLATE_SUCCESS) {
        return std::nullopt;
    }
    return produced;
}

// The library inflates whole streams only: the stream goes into a buffer that grows until it
// holds all of it (bounded by what the stream can inflate to), and its head is copied out.
// Only a lack of room makes it grow; damage ends it at once.
std::optional<size_t> inflatePrefix(std::span<const uint8_t> input, std::span<uint8_t> output) {
    libdeflate_decompressor* instance = decompressor();
    if (instance == nullptr) {
        return std::nullopt;
    }
    std::vector<uint8_t> buffer;
    uint64_t room = std::max<uint64_t>(output.size(), 1);
    for (;;) {
        buffer.resize(size_t(room));
        size_t produced = 0;
        const libdeflate_result result = libdeflate_zlib_decompress_ex(instance, input.data(), input.size(),
                                                                       buffer.data(), buffer.size(), nullptr, &produced);
        if (result == LIBDEFLATE_SUCCESS) {
            const size_t kept = std::min(produced, output.size());
            std::copy_n(buffer.begin(), kept, output.begin());
            return kept;
        }
        const uint64_t bound = maxInflatedSize(input.size());
        if (result != LIBDEFLATE_INSUFFICIENT_SPACE || room >= bound) {
            return std::nullopt;
        }
        room = std::min(room * 2, bound);
    }
}
