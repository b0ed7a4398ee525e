// Writes the asset-like corpus the peer benchmark packs, extracts and checks (bench/corpus_writer.h).
// Usage: corpus_gen DIRECTORY [files] [total MB]
//        corpus_gen DIRECTORY --small [files] [folders]   (the small-file tree)
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "bench/corpus_writer.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: corpus_gen DIRECTORY [files] [total MB]\n");
        return 2;
    }
    if (argc > 2 && std::strcmp(argv[2], "--small") == 0) {
        const uint32_t files = argc > 3 ? uint32_t(std::atoi(argv[3])) : 100000;
        const uint32_t folders = argc > 4 ? uint32_t(std::atoi(argv[4])) : 1000;
        const auto written = writeSmallFileTree(argv[1], files, std::max<uint32_t>(folders, 1));
        if (!written) return 1;
        std::printf("%u files of 50 to 900 bytes, %.1f MB in %s\n", files, double(*written) / 1e6, argv[1]);
        return 0;
    }
    const uint32_t files = argc > 2 ? uint32_t(std::atoi(argv[2])) : 20000;
    const double totalMb = argc > 3 ? std::atof(argv[3]) : 300;
    const auto written = writeCorpus(argv[1], files, totalMb);
    if (!written) return 1;
    std::printf("%u files, %.1f MB in %s\n", files, double(*written) / 1e6, argv[1]);
    return 0;
}
