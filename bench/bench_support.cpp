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

namespace {

// One hangul syllable in code page 949 (the KS X 1001 syllable rows).
void appendHangul(std::string& name, Generator& random) {
    name += char(0xB0 + random.below(0x19));
    name += char(0xA1 + random.below(0x5E));
}

}  // namespace

std::string makeEntryName(uint32_t index, Generator& random) {
    static const char* const FOLDERS[] = {"texture", "sprite", "model", "wav", "effect", "palette"};
    static const char* const SUFFIXES[] = {".bmp", ".spr", ".act", ".rsm", ".wav", ".str", ".gat", ".tga"};
    std::string name = "data\\";
    name += FOLDERS[random.below(6)];
    name += '\\';
    const bool korean = random.below(10) < 7;
    if (korean) {
        const uint32_t syllables = 3 + random.below(4);
        for (uint32_t i = 0; i < syllables; ++i) appendHangul(name, random);
        name += '\\';
        for (uint32_t i = 0; i < 2 + random.below(5); ++i) appendHangul(name, random);
    } else {
        name += "interface\\item\\";
    }
    name += "_" + std::to_string(index);
    while (name.size() < 38 + random.below(6)) name += char('a' + random.below(26));
    name += SUFFIXES[random.below(8)];
    return name;
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
