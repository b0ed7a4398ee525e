#include "archive/codec/codec.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <libdeflate.h>

#include "platform/thread_sync.h"

namespace {

// Compressors (several hundred KiB of tables each) and decompressors not in use, kept for the
// next call on any thread instead of built per entry. Not thread_local: MinGW-w64 runs a thread's
// thread_local destructors after it has freed their storage, so freeing a compressor there freed
// garbage and crashed every thread that had compressed as it ended.
template <typename T, void (*release)(T*)>
class Shelf {
public:
    struct Free {
        void operator()(T* item) const { release(item); }
    };
    using Held = std::unique_ptr<T, Free>;

    // Room for all it keeps from the start: a lease gives its item back from a destructor, where
    // an allocation that fails would end the program.
    Shelf() { items.reserve(MAX_KEPT); }

    // One made for `key` (the level) before, or nothing.
    Held take(int key) {
        std::lock_guard<platform::Mutex> hold(lock);
        const auto found = std::find_if(items.begin(), items.end(), [key](const auto& item) { return item.first == key; });
        if (found == items.end()) {
            return nullptr;
        }
        Held item = std::move(found->second);
        items.erase(found);
        return item;
    }

    void put(int key, Held item) {
        std::lock_guard<platform::Mutex> hold(lock);
        // As many as threads work at once, times the levels they use: a bound only against a
        // caller that keeps changing levels.
        if (items.size() < MAX_KEPT) {
            items.emplace_back(key, std::move(item));
        }
    }

private:
    static constexpr size_t MAX_KEPT = 32;
    platform::Mutex lock;
    std::vector<std::pair<int, Held>> items;
};

using CompressorShelf = Shelf<libdeflate_compressor, libdeflate_free_compressor>;
using DecompressorShelf = Shelf<libdeflate_decompressor, libdeflate_free_decompressor>;

CompressorShelf& compressors() {
    static CompressorShelf shelf;
    return shelf;
}

DecompressorShelf& decompressors() {
    static DecompressorShelf shelf;
    return shelf;
}

// One item from `shelf` for `key`, made when the shelf has none; back on the shelf when done.
template <typename S>
class Lease {
public:
    template <typename Make>
    Lease(S& shelf, int key, Make make) : shelf(shelf), key(key), held(shelf.take(key)) {
        if (!held) {
            held.reset(make());
        }
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
        if (held) {
            shelf.put(key, std::move(held));
        }
    }
    auto* get() const { return held.get(); }

private:
    S& shelf;
    int key;
    typename S::Held held;
};

Lease<CompressorShelf> compressorFor(int level) {
    return {compressors(), level, [level] { return libdeflate_alloc_compressor(level); }};
}

Lease<DecompressorShelf> decompressor() {
    return {decompressors(), 0, [] { return libdeflate_alloc_decompressor(); }};
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
    const auto lease = compressorFor(level);
    libdeflate_compressor* compressor = lease.get();
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
    const auto lease = decompressor();
    libdeflate_decompressor* instance = lease.get();
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
    const auto lease = decompressor();
    libdeflate_decompressor* instance = lease.get();
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
