#include "bench/bench_support.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

double medianMs(int repetitions, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::vector<uint8_t> deflateAll(const std::vector<uint8_t>& data, int level) {
    uLongf length = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(length);
    if (compress2(out.data(), &length, data.data(), uLong(data.size()), level) != Z_OK) {
        std::fprintf(stderr, "compress2 failed\n");
        std::exit(1);
    }
    out.resize(length);
    return out;
}

size_t heapInUse() {
#if defined(__GLIBC__)
    // Large blocks are mapped on their own and counted apart from the heap's arenas.
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    return 0;
#endif
}
