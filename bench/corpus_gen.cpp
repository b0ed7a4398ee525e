// Writes the asset-like corpus the peer benchmark packs, extracts and checks (bench/corpus_writer.h).
// Usage: corpus_gen DIRECTORY [files] [total MB]
#include <cstdio>
#include <cstdlib>

#include "bench/corpus_writer.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: corpus_gen DIRECTORY [files] [total MB]\n");
        return 2;
    }
    const uint32_t files = argc > 2 ? uint32_t(std::atoi(argv[2])) : 20000;
    const double totalMb = argc > 3 ? std::atof(argv[3]) : 300;
    const auto written = writeCorpus(argv[1], files, totalMb);
    if (!written) return 1;
    std::printf("%u files, %.1f MB in %s\n", files, double(*written) / 1e6, argv[1]);
    return 0;
}
