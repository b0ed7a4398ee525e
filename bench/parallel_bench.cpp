// Save, repack and extract all on one thread per core against single-thread baselines, on the same
// generated tree in one run:
//   parallel_bench [work directory] [megabytes] [repetitions]
// Baselines: zlib deflate at level 6 of every file's bytes, one after the other on one thread, the
// bytes already in memory (save and repack after adding the tree); unzip of a zip -6 archive of
// the tree into a fresh directory (extract all; not on Windows). Times are wall-clock minima of the
// repetitions, each repetition a round of every piece in turn, with the tree in the page cache.
// More lines bound what the save can reach here: the linked codec compressing the same bytes in
// memory on every thread (no files at all), opening and reading every file of the tree, and
// adding the tree without saving (the walk, which no thread count changes).
#include <zlib.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "archive/ops/save.h"
#include "archive/model/archive.h"
#include "archive/codec/codec.h"
#include "archive/ops/extract_batch.h"
#include "archive/format/name_hash.h"
#include "archive/base/progress_sink.h"
#include "archive/ops/repack.h"
#include "bench/bench_support.h"
#include "archive/ops/work_pool.h"
#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"
#include "worker/add_directory.h"

namespace fs = std::filesystem;

namespace {

// The kinds a client's data folder holds: text and tables, bitmaps with runs and a palette,
// height maps that change slowly, and packed data (sounds, jpegs) that hardly compress.
std::vector<uint8_t> content(Random& random, size_t size) {
    static const char* const WORDS[] = {"sprite", "texture", "ground", "palette", "frame", "monster", "effect",
                                        "alpha",  "index",   "model",  "water",   "height", "light", "shadow",
                                        "0",      "1",       "12",     "255",     "1024",  "\r\n",  "\t"};
    std::vector<uint8_t> out;
    out.reserve(size + 16);
    switch (random.below(10)) {
    case 0:
    case 1:
    case 2:
    case 3:
        while (out.size() < size) {
            const char* word = WORDS[random.below(std::size(WORDS))];
            out.insert(out.end(), word, word + std::char_traits<char>::length(word));
            out.push_back(random.below(9) == 0 ? '\n' : ' ');
        }
        break;
    case 4:
    case 5:
    case 6:
        while (out.size() < size) {
            out.insert(out.end(), 1 + random.below(24), uint8_t(random.below(40)));
        }
        break;
    case 7:
    case 8: {
        uint32_t level = 128;
        while (out.size() < size) {
            level = (level + random.below(5) - 2) & 0xFF;
            out.push_back(uint8_t(level));
            out.push_back(uint8_t(random.below(4)));
        }
        break;
    }
    default:
        while (out.size() < size) {
            const uint32_t value = random.next();
            out.insert(out.end(), reinterpret_cast<const uint8_t*>(&value), reinterpret_cast<const uint8_t*>(&value) + 4);
        }
    }
    out.resize(size);
    return out;
}

// Sizes from 256 bytes to 96 KiB, even on a log scale, and a large file (1 to 4 MiB) in every
// thousand: about 18,000 files for 300 MB.
std::vector<std::vector<uint8_t>> generateTree(const fs::path& root, uint64_t totalBytes, std::vector<fs::path>& paths) {
    Random random{7};
    std::vector<std::vector<uint8_t>> files;
    uint64_t written = 0;
    for (int index = 0; written < totalBytes; ++index) {
        size_t size = size_t(256.0 * std::pow(384.0, double(random.below(10000)) / 10000.0));
        if (index % 1000 == 999) size = (1u << 20) + random.below(3u << 20);
        const fs::path file = root / ("dir" + std::to_string(index % 41)) / ("sub" + std::to_string(index % 7)) /
                              ("file" + std::to_string(index) + ".dat");
        fs::create_directories(file.parent_path());
        auto data = content(random, size);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
        written += data.size();
        files.push_back(std::move(data));
        paths.push_back(file);
    }
    return files;
}

double cpuSeconds() {
#ifdef _WIN32
    return 0;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

// A timed piece of the run: the fastest of its runs, and the processor time of that run (all
// threads of this process together).
struct Phase {
    const char* what;
    std::function<void()> prepare;  // before each run, untimed
    std::function<void()> work;
    double fastest = 1e30;
    double cpu = 0;
};

// Runs every phase once per round, `repetitions` rounds: on a shared machine each phase's fastest
// run then comes from the same stretches of time as the others', and the ratios stay fair.
void runRounds(std::vector<Phase*> phases, int repetitions) {
    for (int rep = 0; rep < repetitions; ++rep) {
        for (Phase* phase : phases) {
            if (phase->prepare) phase->prepare();
            const double cpuStart = cpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            phase->work();
            const double cpu = cpuSeconds() - cpuStart;
            const double time = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (time < phase->fastest) {
                phase->fastest = time;
                phase->cpu = cpu;
            }
        }
    }
}

// Compresses every file at level 6 with the linked codec, the files shared out one at a time.
void deflateAllFiles(const std::vector<std::vector<uint8_t>>& files, unsigned threads) {
    std::atomic<size_t> next{0};
    const auto work = [&] {
        std::vector<uint8_t> stream;
        for (size_t index; (index = next++) < files.size();) {
            deflateStream(files[index], 6, stream);
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < threads; ++i) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();
}

// Keeps the largest heap seen at any report.
class PeakHeapSink : public ProgressSink {
public:
    void reportStatus(const char16_t*) override { look(); }
    void reportProgress(uint32_t, bool) override { look(); }
    size_t peak = 0;

private:
    void look() { peak = std::max(peak, heapInUse()); }
};

#ifndef _WIN32
bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const fs::path work = fs::absolute(argc > 1 ? argv[1] : "quarnel-parallel-bench");
    const uint64_t megabytes = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 300;
    const int repetitions = std::max(1, argc > 3 ? std::atoi(argv[3]) : 1);

    const fs::path tree = work / "tree";
    fs::remove_all(work);
    fs::create_directories(tree);
    std::vector<fs::path> paths;
    std::vector<std::vector<uint8_t>> files = generateTree(tree, megabytes << 20, paths);
    uint64_t treeBytes = 0;
    for (const auto& file : files) treeBytes += file.size();
    const double mb = double(treeBytes) / 1e6;
    const std::u16string treePath = platform::corePathFromUtf8(tree.string());
    const std::u16string archivePath = platform::corePathFromUtf8((work / "tree.grf").string());
    const unsigned threads = WorkPool::defaultThreads();
    std::printf("tree: %zu files, %.1f MB; codec %s; %u threads\n", files.size(), mb,
                codecName()[0] == u'z' ? "zlib" : "libdeflate", threads);

    NullSink sink;
    const auto line = [&](const Phase& phase) {
        // Processor time over wall time: how many cores the run kept busy (not told on Windows).
        std::printf("%-48s %7.2f s  %7.1f MB/s", phase.what, phase.fastest, mb / phase.fastest);
#ifndef _WIN32
        std::printf("  cpu/wall %.2f", phase.cpu / phase.fastest);
#endif
        std::printf("\n");
        std::fflush(stdout);
    };

    // The baseline: zlib's own deflate, level 6, one file after the other.
    uint64_t zlibBytes = 0;
    Phase zlibPhase{"zlib deflate L6, one thread (baseline)", {}, [&] {
        zlibBytes = 0;
        std::vector<uint8_t> out;
        for (const auto& file : files) {
            uLongf length = compressBound(uLong(file.size()));
            out.resize(length);
            compress2(out.data(), &length, file.data(), uLong(file.size()), 6);
            zlibBytes += length;
        }
    }};
    Phase codecOne{"codec L6 in memory, one thread", {}, [&] { deflateAllFiles(files, 1); }};
    Phase codecAll{"codec L6 in memory, all threads", {}, [&] { deflateAllFiles(files, threads); }};
    std::vector<std::u16string> corePaths;
    for (const fs::path& path : paths) corePaths.push_back(platform::corePathFromUtf8(path.string()));
    Phase readPhase{"open and read every file, one thread", {}, [&] {
        std::vector<uint8_t> buffer;
        for (const std::u16string& path : corePaths) {
            platform::ExclusiveFile file;
            if (file.open(path, platform::ExclusiveFile::Mode::READ) != 0) {
                std::exit(1);
            }
            buffer.resize(size_t(file.size()));
            file.read(buffer.data(), buffer.size());
        }
    }};

    const auto removeArchive = [&] { fs::remove(work / "tree.grf"); };
    const auto addTree = [&](GrfArchive& archive) {
        AddDirectoryArgs args;
        args.archive = &archive;
        args.directory = treePath;
        if (!archive.create(archivePath)) std::exit(1);
        addDirectoryTree(args, treePath.size() + 1, treePath, sink);
    };
    const auto save = [&](unsigned saveThreads, ProgressSink& saveSink) {
        GrfArchive archive;
        addTree(archive);
        if (!saveArchive(archive, 6, false, saveSink, saveThreads)) {
            std::fprintf(stderr, "save failed: %d\n", archive.lastError.code);
            std::exit(1);
        }
    };
    // The part of the save's time that no thread count changes: walking the tree.
    Phase addPhase{"add tree alone (no save)", removeArchive, [&] {
        GrfArchive archive;
        addTree(archive);
    }};
    Phase saveOne{"add tree + save L6, one thread", removeArchive, [&] { save(1, sink); }};
    Phase saveAll{"add tree + save L6, all threads", removeArchive, [&] { save(threads, sink); }};
    Phase repackPhase{"repack L6, all threads", {}, [&] {
        auto old = std::make_unique<GrfArchive>();
        if (!old->open(archivePath)) std::exit(1);
        RecompressResult result = recompressArchive(std::move(old), 6, false, sink, [](uint64_t) {});
        if (result.outcome.code() != 0) {
            std::fprintf(stderr, "repack failed: %d\n", result.outcome.code());
            std::exit(1);
        }
        result.archive.reset();
    }};

    // Every extraction writes into a directory of its own: files created right after as many were
    // deleted cost the file system far more, and would measure its bookkeeping instead of ours.
    int extraction = 0;
    const auto freshDirectory = [&](const char* stem) { return work / (stem + std::to_string(extraction++)); };
    const auto extract = [&](unsigned extractThreads) {
        const fs::path target = freshDirectory("out");
        fs::create_directories(target);
        GrfArchive archive;
        if (!archive.open(archivePath)) std::exit(1);
        std::vector<GrfEntry*> all;
        for (const auto& entry : archive.storedEntries()) all.push_back(entry.get());
        extractEntries(all, platform::corePathFromUtf8(target.string()), true, false, sink, extractThreads);
    };
    Phase extractOne{"extract all, one thread", {}, [&] { extract(1); }};
    Phase extractAll{"extract all, all threads", {}, [&] { extract(threads); }};

    const std::vector<Phase*> phases{&zlibPhase, &codecOne, &codecAll, &readPhase, &addPhase, &saveOne,
                                     &saveAll, &repackPhase, &extractOne, &extractAll};
    runRounds(phases, repetitions);
    for (const Phase* phase : phases) line(*phase);
    const uint64_t savedBytes = fs::file_size(work / "tree.grf");
    // Untimed: looking at the heap on every report costs time of its own.
    files.clear();
    files.shrink_to_fit();
    PeakHeapSink peakSink;
    removeArchive();
    const size_t heapBefore = heapInUse();
    save(threads, peakSink);
    if (peakSink.peak != 0) {  // 0 where the heap cannot be looked at
        std::printf("heap during the save, all threads: %.1f MB (the most seen at a report)\n",
                    double(peakSink.peak - heapBefore) / 1e6);
    }

    std::printf("archive %.1f MB, zlib streams %.1f MB\n", double(savedBytes) / 1e6, double(zlibBytes) / 1e6);
    const double zlibTime = zlibPhase.fastest;
    std::printf("save / zlib baseline:   %.2fx\n", zlibTime / saveAll.fastest);
    std::printf("repack / zlib baseline: %.2fx\n", zlibTime / repackPhase.fastest);
    std::printf("codec alone, all threads / zlib baseline: %.2fx (no save can beat this)\n", zlibTime / codecAll.fastest);
    std::printf("save, repack / codec alone, all threads: %.0f%%, %.0f%%\n", 100 * codecAll.fastest / saveAll.fastest,
                100 * codecAll.fastest / repackPhase.fastest);
#ifndef _WIN32
    const std::string zipCommand = "cd '" + work.string() + "' && zip -r -6 -q tree.zip tree";
    if (!run(zipCommand)) {
        std::fprintf(stderr, "zip failed\n");
        return 1;
    }
    Phase unzipPhase{"unzip of zip -6 (baseline)", {}, [&] {
        run("unzip -q -d '" + freshDirectory("unzipped").string() + "' '" + (work / "tree.zip").string() + "'");
    }};
    runRounds({&unzipPhase}, repetitions);
    line(unzipPhase);
    std::printf("extract all / unzip:    %.2fx\n", unzipPhase.fastest / extractAll.fastest);
#endif
    fs::remove_all(work);
    return 0;
}
