// Decoding a large entry with mixed coding, against inflating the same entry.
// Usage: decode_bench [MiB] [repetitions]
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/format/legacy_decode.h"
#include "bench/bench_support.h"

namespace {

// Half text-like runs, half noise, in 64 KiB pieces: the mix a client's data folder has.
std::vector<uint8_t> mixedData(size_t size) {
    static const char* const WORDS[] = {"sprite ", "texture ", "monster ", "0.25 ", "\r\n", "effect ", "wall "};
    std::vector<uint8_t> out(size);
    Generator random(3);
    for (size_t at = 0; at < size; at += 65536) {
        const size_t end = std::min(size, at + 65536);
        if ((at / 65536) % 2 == 0) {
            for (size_t i = at; i < end; ++i) out[i] = uint8_t(random.next());
        } else {
            size_t i = at;
            while (i < end) {
                const char* word = WORDS[random.below(7)];
                for (const char* p = word; *p && i < end; ++p) out[i++] = uint8_t(*p);
            }
        }
    }
    return out;
}

int32_t digits(uint32_t value) {
    int32_t count = 1;
    while (value >= 10) {
        value /= 10;
        ++count;
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mebibytes = argc > 1 ? size_t(std::atoi(argv[1])) : 64;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::vector<uint8_t> data = mixedData(mebibytes << 20);
    const std::vector<uint8_t> stream = deflateAll(data, 6);
    const int32_t coding = digits(uint32_t(stream.size()));
    std::vector<uint8_t> stored(stream);
    stored.resize((stored.size() + 7) / 8 * 8);

    std::vector<uint8_t> output(data.size());
    const double inflateMs = medianMs(repetitions, [&] {
        uLongf length = uLongf(output.size());
        if (uncompress(output.data(), &length, stream.data(), uLong(stream.size())) != Z_OK) std::abort();
    });

    // Each repetition decodes a fresh copy of the stored bytes; only the decoding is timed.
    std::vector<uint8_t> work(stored.size());
    std::vector<double> decodeTimes;
    for (int rep = 0; rep < repetitions; ++rep) {
        std::memcpy(work.data(), stored.data(), stored.size());
        decodeTimes.push_back(medianMs(1, [&] { decodeData(work.data(), work.size(), coding); }));
    }
    std::sort(decodeTimes.begin(), decodeTimes.end());
    const double decodeMs = decodeTimes[decodeTimes.size() / 2];

    // The same walk over a whole 64 MiB buffer, as for an entry that did not compress at all.
    std::vector<uint8_t> big(data);
    const double decodeBigMs = medianMs(repetitions, [&] { decodeData(big.data(), big.size(), 8); });

    std::printf("entry %zu MiB, stream %zu bytes, coding %d (period %u)\n", mebibytes, stream.size(), coding,
                mixedPeriod(coding));
    std::printf("inflate: %.1f ms (median of %d)\n", inflateMs, repetitions);
    std::printf("decodeData over the stored bytes: %.2f ms (median of %d)\n", decodeMs, repetitions);
    std::printf("ratio decode / inflate: %.3f\n", decodeMs / inflateMs);
    std::printf("decodeData over %zu MiB, coding 8: %.2f ms\n", mebibytes, decodeBigMs);
    return 0;
}
