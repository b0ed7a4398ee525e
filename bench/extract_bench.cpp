// Extract-all of an archive of the peer benchmark's corpus (bench/corpus_writer.h) into a fresh
// directory, against unzip of a ZIP archive (zip -6) of the same files, timed alternately in the
// same run.
// Usage: extract_bench [files] [total MB] [repetitions]   (needs zip and unzip on the PATH)
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/model/archive.h"
#include "archive/ops/extract_batch.h"
#include "archive/format/name_hash.h"
#include "archive/base/progress_sink.h"
#include "bench/bench_support.h"
#include "bench/corpus_writer.h"
#include "platform/disk_ops.h"

namespace fs = std::filesystem;

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t files = argc > 1 ? uint32_t(std::atoi(argv[1])) : 20000;
    const double totalMb = argc > 2 ? std::atof(argv[2]) : 300;
    const int repetitions = argc > 3 ? std::atoi(argv[3]) : 3;
    const fs::path work = fs::absolute("extract_bench_work");
    fs::remove_all(work);
    fs::create_directories(work / "src");

    // The peer benchmark's corpus below src/data (what the zip holds), and each file into the archive.
    std::vector<uint8_t> archive(46, 0), table;
    const auto totalBytesWritten = writeCorpus(work / "src" / "data", files, totalMb,
                                               [&](const std::string& name, const std::vector<uint8_t>& content) {
        const auto stream = deflateAll(content, 6);
        const uint32_t offset = uint32_t(archive.size());
        archive.insert(archive.end(), stream.begin(), stream.end());
        table.insert(table.end(), name.begin(), name.end());
        table.push_back(0);
        putU32(table, uint32_t(stream.size()));
        putU32(table, uint32_t(stream.size()));
        putU32(table, uint32_t(content.size()));
        table.push_back(1);
        putU32(table, offset - 46);
    });
    if (!totalBytesWritten) {
        std::fprintf(stderr, "the corpus could not be written\n");
        return 1;
    }
    const uint64_t totalBytes = *totalBytesWritten;
    const uint32_t tablePosition = uint32_t(archive.size());
    const auto packed = deflateAll(table, 6);
    putU32(archive, uint32_t(packed.size()));
    putU32(archive, uint32_t(table.size()));
    archive.insert(archive.end(), packed.begin(), packed.end());
    const char magic[16] = "Master of Magic";
    std::copy(magic, magic + 16, archive.begin());
    auto setU32 = [&archive](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) archive[at + i] = uint8_t(value >> (8 * i));
    };
    setU32(30, tablePosition - 46);
    setU32(38, files + 7);
    setU32(42, 0x200);
    std::ofstream(work / "bench.grf", std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()), std::streamsize(archive.size()));
    const std::string zipCommand = "cd '" + (work / "src").string() + "' && zip -q -6 -r ../bench.zip data";
    if (std::system(zipCommand.c_str()) != 0) {
        std::fprintf(stderr, "zip failed\n");
        return 1;
    }

    std::vector<double> grfTimes, zipTimes;
    NullSink sink;
    // The order flips every repetition: creating thousands of files right after deleting thousands
    // costs the file system differently for whoever comes first.
    const std::u16string grfPath = platform::corePathFromUtf8((work / "bench.grf").string());
    const std::u16string target = platform::corePathFromUtf8((work / "out_grf").string());
    const std::string unzipCommand =
        "unzip -q '" + (work / "bench.zip").string() + "' -d '" + (work / "out_zip").string() + "'";
    for (int rep = 0; rep < repetitions; ++rep) {
        fs::remove_all(work / "out_grf");
        fs::remove_all(work / "out_zip");
        fs::create_directories(work / "out_grf");
        auto runGrf = [&] {
            grfTimes.push_back(medianMs(1, [&] {
                GrfArchive grf;
                if (!grf.open(grfPath)) std::exit(1);
                std::vector<GrfEntry*> all;
                for (const auto& entry : grf.storedEntries()) all.push_back(entry.get());
                // One thread, entry by entry, as the figures have always been taken.
                extractEntries(all, target, true, false, sink, 1);
            }));
        };
        auto runZip = [&] {
            zipTimes.push_back(medianMs(1, [&] {
                if (std::system(unzipCommand.c_str()) != 0) std::exit(1);
            }));
        };
        if (rep % 2 == 0) {
            runGrf();
            runZip();
        } else {
            runZip();
            runGrf();
        }
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const size_t extracted = std::distance(fs::recursive_directory_iterator(work / "out_grf"), {});
    std::printf("%u files, %.1f MB, archive %.1f MB, zip %.1f MB\n", files, double(totalBytes) / 1e6,
                double(archive.size()) / 1e6, double(fs::file_size(work / "bench.zip")) / 1e6);
    std::printf("extract-all: %.0f ms, unzip: %.0f ms (medians of %d, alternated); ratio %.2f\n", median(grfTimes),
                median(zipTimes), repetitions, median(grfTimes) / median(zipTimes));
    std::printf("paths under the extract-all output (files and directories): %zu\n", extracted);
    fs::remove_all(work);
    return 0;
}
