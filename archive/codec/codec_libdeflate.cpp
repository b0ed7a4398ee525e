#include "archive/codec/codec.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include <libdeflate.h>

namespace {

// Compressors (several hundred KiB of tables each) and decompressors not in use, kept for the
// next call on any thread instead of built per entry. Not thread_local: MinGW-w64 runs a thread's
// thread_local destructors after it has freed their storage, so freeing a compressor there freed
// garbage and crashed every thread that had compressed as it ended.
// Lock-free: two threads inflating small entries took and gave back an item per entry, and a
// shared mutex made them queue on each other in the kernel. Each thread starts at a slot of its
// own, on a cache line of its own, so it mostly finds what it gave back there (which slot is a
// thread_local number: it has nothing to free).
template <typename T, void (*release)(T*)>
class Shelf {
public:
    struct Free {
        void operator()(T* item) const { release(item); }
    };
    using Held = std::unique_ptr<T, Free>;

    Shelf() = default;
    Shelf(const Shelf&) = delete;
    Shelf& operator=(const Shelf&) = delete;
    ~Shelf() {
        for (Slot& slot : slots) {
            Held freed(slot.item.exchange(nullptr));
        }
    }

    // One put back before, or nothing.
    Held take() {
        const size_t home = homeSlot();
        for (size_t i = 0; i < SLOTS; ++i) {
            std::atomic<T*>& item = slots[(home + i) % SLOTS].item;
            // Looking first keeps a thread from claiming the cache lines of empty slots.
            if (item.load(std::memory_order_relaxed) != nullptr) {
                if (T* found = item.exchange(nullptr, std::memory_order_acquire)) {
                    return Held(found);
                }
            }
        }
        return nullptr;
    }

    // Freed when every slot is taken: as many as threads work at once are kept.
    void put(Held item) {
        const size_t home = homeSlot();
        for (size_t i = 0; i < SLOTS; ++i) {
            T* expected = nullptr;
            if (slots[(home + i) % SLOTS].item.compare_exchange_strong(expected, item.get(), std::memory_order_release,
                                                                      std::memory_order_relaxed)) {
                item.release();
                return;
            }
        }
    }

private:
    static constexpr size_t SLOTS = 16;
    struct alignas(64) Slot {
        std::atomic<T*> item{nullptr};
    };

    static size_t homeSlot() {
        static std::atomic<size_t> threadsSeen{0};
        thread_local const size_t home = threadsSeen.fetch_add(1, std::memory_order_relaxed) % SLOTS;
        return home;
    }

    std::array<Slot, SLOTS> slots;
};

using CompressorShelf = Shelf<libdeflate_compressor, libdeflate_free_compressor>;
using DecompressorShelf = Shelf<libdeflate_decompressor, libdeflate_free_decompressor>;

// A shelf for each level: a compressor is made for one.
CompressorShelf& compressors(int level) {
    static std::array<CompressorShelf, 10> shelves;
    return shelves[size_t(level)];
}

DecompressorShelf& decompressors() {
    static DecompressorShelf shelf;
    return shelf;
}

// One item from `shelf`, made when the shelf has none; back on the shelf when done.
template <typename S>
class Lease {
public:
    template <typename Make>
    Lease(S& shelf, Make make) : shelf(shelf), held(shelf.take()) {
        if (!held) {
            held.reset(make());
        }
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
        if (held) {
            shelf.put(std::move(held));
        }
    }
    auto* get() const { return held.get(); }

private:
    S& shelf;
    typename S::Held held;
};

// `level` is 0 to 9.
Lease<CompressorShelf> compressorFor(int level) {
    return {compressors(level), [level] { return libdeflate_alloc_compressor(level); }};
}

Lease<DecompressorShelf> decompressor() {
    return {decompressors(), [] { return libdeflate_alloc_decompressor(); }};
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
