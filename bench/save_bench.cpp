// Save and repack against zip on the same generated tree, in the same run.
//   save_bench [work directory] [megabytes] [repetitions]
// Times are medians of the repetitions, with the tree in the page cache: wall clock, and the
// processor time of this process (our runs) or of its children (zip), which a busy machine
// disturbs less. On Windows there is no zip to run and the processor time is not told: the
// lines there are wall times of save and repack alone.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "archive/ops/save.h"
#include "archive/model/archive.h"
#include "archive/ops/extract_batch.h"
#include "archive/format/name_hash.h"
#include "archive/base/progress_sink.h"
#include "archive/ops/repack.h"
#include "bench/bench_support.h"
#include "platform/disk_ops.h"
#include "worker/add_directory.h"

namespace fs = std::filesystem;

namespace {

const char* const WORDS[] = {"sprite", "texture", "ground", "palette", "frame", "monster", "effect", "alpha",
                             "index", "model", "water", "height", "light", "shadow", "sound", "table",
                             "0", "1", "12", "255", "1024", "\r\n", "\t", "=", ";", ",", "data", "map"};

// Text-like data with words from a small vocabulary (deflate shrinks it about 3 to 4 times),
// or, for about one file in ten, bytes that hardly compress (images, sounds).
std::vector<uint8_t> fileData(Random& random, size_t size) {
    std::vector<uint8_t> data;
    data.reserve(size + 16);
    const bool noisy = random.next() % 10 == 0;
    while (data.size() < size) {
        if (noisy) {
            const uint32_t value = random.next();
            data.insert(data.end(), reinterpret_cast<const uint8_t*>(&value), reinterpret_cast<const uint8_t*>(&value) + 4);
        } else {
            const char* word = WORDS[random.next() % std::size(WORDS)];
            data.insert(data.end(), word, word + std::char_traits<char>::length(word));
            data.push_back(random.next() % 7 == 0 ? '\n' : ' ');
        }
    }
    data.resize(size);
    return data;
}

uint64_t generateTree(const fs::path& root, uint64_t totalBytes) {
    Random random{42};
    uint64_t written = 0;
    for (int index = 0; written < totalBytes; ++index) {
        // Sizes spread from 1 KiB to 1 MiB, evenly on a log scale.
        const size_t size = size_t(1024) << (random.next() % 11);
        const fs::path file = root / ("dir" + std::to_string(index % 37)) / ("sub" + std::to_string(index % 5)) /
                              ("file" + std::to_string(index) + ".dat");
        fs::create_directories(file.parent_path());
        const auto data = fileData(random, size + random.next() % size);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
        written += data.size();
    }
    return written;
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

#ifdef _WIN32
constexpr bool HAVE_ZIP = false;
enum { RUSAGE_SELF, RUSAGE_CHILDREN };
double cpuSeconds(int) {
    return 0;
}
#else
constexpr bool HAVE_ZIP = true;
double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
#endif

// `children`: the work runs in child processes, whose processor time is counted once they end.
template <typename Work>
Timing timeOf(bool children, Work&& work) {
    const int who = children ? RUSAGE_CHILDREN : RUSAGE_SELF;
    const double cpuStart = cpuSeconds(who);
    const auto start = std::chrono::steady_clock::now();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), cpuSeconds(who) - cpuStart};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool runZip(const fs::path& directory, const fs::path& tree, const fs::path& zipFile) {
    fs::remove(zipFile);
    const std::string command = "cd '" + directory.string() + "' && zip -r -6 -q '" + zipFile.string() + "' '" +
                                tree.filename().string() + "'";
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path work = fs::absolute(argc > 1 ? argv[1] : "quarnel-bench");
    const uint64_t megabytes = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 300;
    const int repetitions = argc > 3 ? std::atoi(argv[3]) : 3;

    const fs::path tree = work / "tree";
    const fs::path extracted = work / "extracted";
    fs::remove_all(work);
    fs::create_directories(tree);
    const uint64_t treeBytes = generateTree(tree, megabytes << 20);
    const std::u16string treePath = platform::corePathFromUtf8(tree.string());
    const std::u16string archivePath = platform::corePathFromUtf8((work / "tree.grf").string());
    std::printf("tree: %.1f MB in %s\n", double(treeBytes) / 1e6, tree.string().c_str());

    NullSink sink;
    std::vector<Timing> saveTimes, zipTimes, repackTimes, zipExtractedTimes;
    uint64_t archiveBytes = 0, repackedBytes = 0;
    for (int rep = 0; rep < repetitions; ++rep) {
        fs::remove(work / "tree.grf");
        bool saved = false;
        // What the window does: add the directory, then save at level 6.
        saveTimes.push_back(timeOf(false, [&] {
            GrfArchive archive;
            AddDirectoryArgs args;
            args.archive = &archive;
            args.directory = treePath;
            if (!archive.create(archivePath)) return;
            addDirectoryTree(args, treePath.size() + 1, treePath, sink);
            saved = saveArchive(archive, 6, false, sink).ok();
        }));
        if (!saved) {
            std::fprintf(stderr, "save failed\n");
            return 1;
        }
        archiveBytes = fs::file_size(work / "tree.grf");
        if (HAVE_ZIP) {
            zipTimes.push_back(timeOf(true, [&] {
                if (!runZip(work, tree, work / "tree.zip")) std::fprintf(stderr, "zip failed\n");
            }));
        }

        if (rep == 0) {
            GrfArchive archive;
            if (!archive.open(archivePath)) std::exit(1);
            std::vector<GrfEntry*> all;
            for (const auto& entry : archive.storedEntries()) all.push_back(entry.get());
            extractEntries(all, platform::corePathFromUtf8(extracted.string()), true, false, sink, 1);
        }
        int32_t error = 0;
        repackTimes.push_back(timeOf(false, [&] {
            auto old = std::make_unique<GrfArchive>();
            if (!old->open(archivePath)) std::exit(1);
            RecompressResult result = recompressArchive(std::move(old), 6, false, sink, [](uint64_t) {});
            error = result.outcome.code();
            result.archive.reset();
        }));
        if (error != 0) {
            std::fprintf(stderr, "repack failed: %d\n", error);
            return 1;
        }
        repackedBytes = fs::file_size(work / "tree.grf");
        if (HAVE_ZIP) {
            zipExtractedTimes.push_back(timeOf(true, [&] {
                if (!runZip(work, extracted, work / "extracted.zip")) std::fprintf(stderr, "zip failed\n");
            }));
        }
    }

    const double mb = double(treeBytes) / 1e6;
    const auto wall = [](const std::vector<Timing>& t) {
        std::vector<double> v;
        for (const Timing& x : t) v.push_back(x.wall);
        return median(v);
    };
    const auto cpu = [](const std::vector<Timing>& t) {
        std::vector<double> v;
        for (const Timing& x : t) v.push_back(x.cpu);
        return median(v);
    };
    const auto line = [&](const char* what, const std::vector<Timing>& t, uint64_t bytes) {
        std::printf("%-34s wall %7.2f s (%6.1f MB/s)", what, wall(t), mb / wall(t));
        if (cpu(t) > 0) std::printf("  cpu %7.2f s (%6.1f MB/s)", cpu(t), mb / cpu(t));
        std::printf("  output %.1f MB\n", double(bytes) / 1e6);
    };
    std::printf("medians of %d runs\n", repetitions);
    line("add directory + save, level 6", saveTimes, archiveBytes);
    line("repack, level 6", repackTimes, repackedBytes);
    if (!HAVE_ZIP) {
        fs::remove_all(work);
        return 0;
    }
    line("zip -r -6 of the tree", zipTimes, fs::file_size(work / "tree.zip"));
    line("zip -r -6 of the extracted tree", zipExtractedTimes, fs::file_size(work / "extracted.zip"));
    std::printf("save / zip: wall %.2f cpu %.2f   repack / zip: wall %.2f cpu %.2f\n", wall(saveTimes) / wall(zipTimes),
                cpu(saveTimes) / cpu(zipTimes), wall(repackTimes) / wall(zipExtractedTimes),
                cpu(repackTimes) / cpu(zipExtractedTimes));
    fs::remove_all(work);
    return 0;
}
