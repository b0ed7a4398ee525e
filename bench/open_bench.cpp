// Opening a large archive: table read, inflate, parse, both name forms and the index, against
// zlib's uncompress of the same table alone. Usage: open_bench [entries] [repetitions]
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "archive/model/archive.h"
#include "archive/format/name_hash.h"
#include "bench/bench_support.h"

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t count = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 400000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 7;

    Generator random(7);
    std::vector<uint8_t> table;
    size_t nameBytes = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string name = makeEntryName(i, random);
        nameBytes += name.size();
        table.insert(table.end(), name.begin(), name.end());
        table.push_back(0);
        const uint32_t compressed = 100 + random.below(50000);
        putU32(table, compressed);
        putU32(table, compressed);
        putU32(table, compressed * 3);
        table.push_back(1);
        putU32(table, random.next());
    }
    const std::vector<uint8_t> packed = deflateAll(table, 6);

    // Header, no data (open does not read it), the table.
    std::vector<uint8_t> file(46, 0);
    const char magic[16] = "Master of Magic";
    std::copy(magic, magic + 16, file.begin());
    auto setU32 = [&file](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(value >> (8 * i));
    };
    setU32(30, 0);
    setU32(38, count + 7);
    setU32(42, 0x200);
    putU32(file, uint32_t(packed.size()));
    putU32(file, uint32_t(table.size()));
    file.insert(file.end(), packed.begin(), packed.end());
    const char* const pathText = "open_bench.grf";
    std::ofstream(pathText, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    const std::u16string path = u"open_bench.grf";

    // Alternated, so both see the same load on a shared machine; medians of each and of the ratios.
    std::vector<uint8_t> inflated(table.size());
    std::vector<double> uncompressTimes, openTimes, closeTimes, ratios;
    for (int rep = 0; rep < repetitions; ++rep) {
        const double uncompressMs = medianMs(1, [&] {
            uLongf length = uLongf(inflated.size());
            if (uncompress(inflated.data(), &length, packed.data(), uLong(packed.size())) != Z_OK) std::abort();
        });
        GrfArchive archive;
        const double openMs = medianMs(1, [&] {
            if (!archive.open(path)) {
                std::fprintf(stderr, "open failed: %d\n", archive.lastError.code);
                std::exit(1);
            }
        });
        closeTimes.push_back(medianMs(1, [&] { archive.close(); }));
        uncompressTimes.push_back(uncompressMs);
        openTimes.push_back(openMs);
        ratios.push_back(openMs / uncompressMs);
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };

    // Memory: what an open archive holds once its table buffer is gone.
    const size_t before = heapInUse();
    GrfArchive held;
    if (!held.open(path)) return 1;
    const size_t after = heapInUse();
    const size_t entries = held.storedEntries().size();

    std::printf("entries %u, mean name %.1f bytes, table %zu bytes, packed %zu bytes\n", count,
                double(nameBytes) / count, table.size(), packed.size());
    std::printf("uncompress of the table: %.1f ms (median of %d)\n", median(uncompressTimes), repetitions);
    std::printf("open (read, inflate, parse, both name forms, index): %.1f ms (median of %d)\n", median(openTimes),
                repetitions);
    std::printf("close (freeing every entry): %.1f ms\n", median(closeTimes));
    std::printf("ratio open / uncompress: median %.2f (min %.2f, max %.2f)\n", median(ratios),
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
    if (before && after > before) {
        std::printf("heap held by the open archive: %.1f MB, %.0f bytes per entry\n", double(after - before) / 1e6,
                    double(after - before) / double(entries));
    }
    held.close();
    std::remove(pathText);
    return 0;
}
