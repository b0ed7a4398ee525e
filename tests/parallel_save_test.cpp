#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "archive/ops/save.h"
#include "archive/model/archive.h"
#include "archive/ops/entry_data.h"
#include "archive/ops/extract.h"
#include "archive/ops/extract_batch.h"
#include "archive/base/progress_sink.h"
#include "archive/base/result_codes.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// What a save or an extraction reports, checked the way the task worker turns it into messages:
// absolute, never going back, and only ever from the thread that runs the operation.
struct ProgressLog : ProgressSink {
    explicit ProgressLog(GrfArchive* watched = nullptr) : watched(watched) {}

    GrfArchive* watched;  // its lastError.code is taken (and cleared) at every status and at the end
    std::thread::id owner = std::this_thread::get_id();
    std::vector<std::u16string> statuses;
    std::vector<int> codes;  // the code the previous entry left
    uint64_t committed = 0;
    uint64_t shown = 0;
    // Reports strictly inside an entry, as (entry's status index, bytes).
    std::vector<std::pair<size_t, uint32_t>> inside;
    bool wentBack = false;
    bool otherThread = false;

    void takeCode() {
        if (watched == nullptr) return;
        codes.push_back(watched->lastError.code);
        watched->lastError.code = 0;
    }
    void reportStatus(const char16_t* text) override {
        otherThread |= std::this_thread::get_id() != owner;
        if (!statuses.empty()) takeCode();
        statuses.emplace_back(text);
    }
    void reportProgress(uint32_t bytes, bool commit) override {
        otherThread |= std::this_thread::get_id() != owner;
        const uint64_t done = committed + bytes;
        wentBack |= done < shown;
        shown = done;
        if (commit) {
            committed = done;
        } else if (bytes > 0) {
            inside.emplace_back(statuses.size() - 1, bytes);
        }
    }
    void finish() {
        if (!statuses.empty()) takeCode();
    }
};

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

GrfEntry* addFile(GrfArchive& archive, const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::u16string file = u"src";
    for (const char digit : std::to_string(archive.pendingEntries().size())) file += char16_t(digit);
    writeFile(dir.native(file), bytes);
    return archive.addFile(name, dir.file(file), uint32_t(bytes.size()));
}

// An archive whose saved file has gaps: the spaces of deleted entries and of the first table.
void writeArchiveWithGaps(const TempDir& dir) {
    TestArchive()
        .add("data\\keep1.txt", sampleData(3000, 1))
        .add("data\\gone1.bin", noiseData(5000, 2))
        .add("data\\keep2.txt", sampleData(800, 3))
        .add("data\\gone2.bin", noiseData(20000, 4))
        .add("data\\keep3.txt", sampleData(12000, 5))
        .add("data\\gone3.bin", noiseData(700, 6))
        .writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
    for (const char* name : {"data\\gone1.bin", "data\\gone2.bin", "data\\gone3.bin"}) {
        archive.markDeleted(*archive.findStored(name));
    }
    ProgressLog log;
    ASSERT_TRUE(saveArchive(archive, 6, false, log, 1)) << describe(archive);
}

struct Scenario {
    const char* what;
    int level;
    std::function<void(const TempDir&)> makeBase;  // writes test.grf (and any source archive)
    std::function<void(GrfArchive&, const TempDir&)> edit;
    int result;  // lastError.code of a failed save, 0 when it succeeds
};

struct SaveRun {
    std::vector<uint8_t> file;
    int error = 0;
    int sourceError = 0;
    ProgressLog log;
};

SaveRun saveWith(const Scenario& scenario, unsigned threads) {
    TempDir dir;
    SaveRun outcome;
    scenario.makeBase(dir);
    {
        GrfArchive archive;
        if (!fs::exists(fs::path(dir.native(u"test.grf")))) {
            EXPECT_TRUE(archive.create(dir.file(u"test.grf")));
        } else {
            EXPECT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
        }
        // The source archive outlives the save: entries borrowed from it share it.
        const auto source = std::make_shared<GrfArchive>();
        if (fs::exists(fs::path(dir.native(u"source.grf")))) {
            EXPECT_TRUE(source->open(dir.file(u"source.grf"))) << describe(*source);
            for (const auto& entry : source->storedEntries()) {
                archive.importEntry(shareEntry(source, entry.get()));
            }
        }
        scenario.edit(archive, dir);
        uint64_t total = 0;
        for (const auto& entry : archive.pendingEntries()) {
            if (entry->state() != ENTRY_DELETED) total += entry->originalSize();
        }
        const bool saved = saveArchive(archive, scenario.level, false, outcome.log, threads).ok();
        EXPECT_EQ(saved, scenario.result == 0);
        outcome.error = saved ? 0 : archive.lastError.code;
        outcome.sourceError = source->lastError.code;
        EXPECT_FALSE(outcome.log.wentBack);
        EXPECT_FALSE(outcome.log.otherThread);
        if (saved) {
            EXPECT_EQ(outcome.log.committed, total);
        }
        archive.close();
    }
    outcome.file = readWholeFile(dir.native(u"test.grf"));
    return outcome;
}

const auto noBase = [](const TempDir&) {};

}  // namespace

TEST(ParallelSave, WritesTheFileAOneThreadSaveWrites) {
    const auto addMixed = [](GrfArchive& archive, const TempDir& dir) {
        // Sizes around the gaps, so that first fit picks different gaps in a different order.
        addFile(archive, dir, "data\\big.bin", noiseData(3 << 20, 10));
        addFile(archive, dir, "data\\small.bin", noiseData(600, 11));
        addFile(archive, dir, "data\\empty.txt", {});
        addFile(archive, dir, "data\\text.txt", sampleData(200000, 12));
        addFile(archive, dir, "data\\mid.bin", noiseData(4900, 13));
        addFile(archive, dir, "data\\one.txt", toBytes("x"));
        archive.markDeleted(*addFile(archive, dir, "data\\later.bin", noiseData(15000, 14)));
        for (int i = 0; i < 30; ++i) {
            addFile(archive, dir, "data\\many\\" + std::to_string(i) + ".txt", sampleData(100 + i * 997, 20 + i));
        }
    };
    const auto withSource = [](const TempDir& dir) {
        writeArchiveWithGaps(dir);
        TestArchive()
            .add("data\\keep2.txt", sampleData(900, 40))  // replaces the stored namesake
            .add("data\\coded.bmp", noiseData(9000, 41)).flags(3)
            .add("data\\header.gat", sampleData(70000, 42)).flags(5)
            .add("data\\plain.txt", sampleData(2 << 20, 43))
            .writeTo(dir, u"source.grf");
    };
    const auto missingThird = [](GrfArchive& archive, const TempDir& dir) {
        addFile(archive, dir, "data\\a.bin", noiseData(4000, 50));
        addFile(archive, dir, "data\\b.txt", sampleData(90000, 51));
        addFile(archive, dir, "data\\c.bin", noiseData(10, 52));
        fs::remove(fs::path(dir.native(u"src2")));
        addFile(archive, dir, "data\\d.bin", noiseData(2000, 53));
    };
    const auto damagedSource = [](const TempDir& dir) {
        writeArchiveWithGaps(dir);
        auto spoiled = deflateBytes(sampleData(40000, 60));
        spoiled[spoiled.size() / 2] ^= 0x55;
        TestArchive()
            .add("data\\fine.txt", sampleData(30000, 61))
            .add("data\\spoiled.txt", sampleData(40000, 60)).stream(spoiled)
            .add("data\\after.txt", sampleData(500, 62))
            .writeTo(dir, u"source.grf");
    };
    const auto nothing = [](GrfArchive&, const TempDir&) {};
    // Entries too large to hold whole go in pieces, from a disk file and from another archive.
    const auto withLargeSource = [](const TempDir& dir) {
        writeArchiveWithGaps(dir);
        TestArchive()
            .add("data\\before.txt", sampleData(3000, 70))
            .add("data\\large-import.txt", sampleData(STREAM_ABOVE_BYTES + 1000, 71))
            .add("data\\after.txt", sampleData(5000, 72))
            .writeTo(dir, u"source.grf");
    };
    const auto addLarge = [](GrfArchive& archive, const TempDir& dir) {
        addFile(archive, dir, "data\\small.txt", sampleData(4000, 73));
        addFile(archive, dir, "data\\large-file.txt", sampleData(STREAM_ABOVE_BYTES + 1000, 74));
        addFile(archive, dir, "data\\last.txt", sampleData(6000, 75));
    };
    const Scenario scenarios[] = {
        {"fresh archive", 6, noBase, addMixed, 0},
        {"gaps", 6, writeArchiveWithGaps, addMixed, 0},
        {"gaps, level 0", 0, writeArchiveWithGaps, addMixed, 0},
        {"gaps, level 9", 9, writeArchiveWithGaps, addMixed, 0},
        {"imports of coded entries into gaps", 6, withSource, addMixed, 0},
        {"missing source file", 6, writeArchiveWithGaps, missingThird, RESULT_OPEN_FAILED},
        {"damaged source entry", 6, damagedSource, nothing, RESULT_BAD_DATA},
        {"entries too large to hold whole", 1, withLargeSource, addLarge, 0},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.what);
        const SaveRun single = saveWith(scenario, 1);
        ASSERT_FALSE(single.file.empty());
        EXPECT_EQ(single.error, scenario.result);
        for (const unsigned threads : {2u, 5u}) {
            SCOPED_TRACE(std::to_string(threads) + " threads");
            const SaveRun parallel = saveWith(scenario, threads);
            EXPECT_EQ(parallel.error, single.error);
            EXPECT_EQ(parallel.sourceError, single.sourceError);
            EXPECT_TRUE(parallel.file == single.file) << "files differ";
            // Statuses name the entries in list order, up to the failed one.
            EXPECT_EQ(parallel.log.statuses, single.log.statuses);
            EXPECT_EQ(parallel.log.committed, single.log.committed);
        }
    }
}

TEST(ParallelSave, ProgressMovesInsideALargeEntry) {
    TempDir dir;
    GrfArchive archive;
    ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
    addFile(archive, dir, "data\\small.txt", sampleData(5000, 1));
    addFile(archive, dir, "data\\large.bin", noiseData(3 << 20, 2));
    addFile(archive, dir, "data\\after.txt", sampleData(7000, 3));
    ProgressLog log;
    ASSERT_TRUE(saveArchive(archive, 6, false, log, 2)) << describe(archive);
    EXPECT_EQ(log.statuses, (std::vector<std::u16string>{u"data\\small.txt", u"data\\large.bin", u"data\\after.txt"}));
    EXPECT_EQ(log.committed, 5000u + (3u << 20) + 7000u);
    EXPECT_FALSE(log.wentBack);
    EXPECT_FALSE(log.otherThread);
    const bool movedInside = std::any_of(log.inside.begin(), log.inside.end(), [](const auto& report) {
        return report.first == 1 && report.second < (3u << 20);
    });
    EXPECT_TRUE(movedInside);
}

TEST(ParallelExtract, EachEntryKeepsItsOwnResultAndFile) {
    TempDir dir;
    auto spoiled = deflateBytes(sampleData(90000, 1));
    spoiled[spoiled.size() / 2] ^= 0x55;
    auto cut = deflateBytes(sampleData(5000, 2));
    cut.resize(cut.size() - 10);
    const auto large = noiseData(3 << 20, 3);
    TestArchive()
        .add("data\\first.txt", sampleData(40000, 4))
        .add("data\\spoiled.txt", sampleData(90000, 1)).stream(spoiled)
        .add("data\\large.bin", large)
        .add("data\\cut.txt", sampleData(5000, 2)).stream(cut)
        .add("data\\coded.bmp", noiseData(9000, 5)).flags(3)
        .add("data\\past-the-end.txt", sampleData(100, 6)).dataOffset(50000000)
        .add("data\\longer-than-stored.txt", sampleData(100, 7)).compressedSize(100000)
        .add("..\\escape.txt", sampleData(100, 8))
        .add("data\\deleted.txt", sampleData(100, 9))
        .add("data\\short-claim.txt", sampleData(3000, 10)).originalSize(2000)
        .add("data\\long-claim.txt", sampleData(3000, 11)).originalSize(9000)
        .add("data\\empty.txt", "")
        .add("data\\last.txt", sampleData(1000, 12))
        .writeTo(dir);
    // The same entries one at a time on the calling thread, against the batch on the pool.
    const auto run = [&](unsigned threads, const std::u16string& target) {
        // Sizes are corrected by extraction; every run starts from the table's.
        GrfArchive fresh;
        EXPECT_TRUE(fresh.open(dir.file(u"test.grf"))) << describe(fresh);
        fresh.markDeleted(*fresh.findStored("data\\deleted.txt"));
        std::vector<GrfEntry*> entries;
        for (const auto& entry : fresh.storedEntries()) entries.push_back(entry.get());
        ProgressLog log(&fresh);
        extractEntries(entries, dir.file(target), true, false, log, threads);
        log.finish();
        EXPECT_FALSE(log.wentBack);
        EXPECT_FALSE(log.otherThread);
        std::vector<uint32_t> sizes;
        for (const auto& entry : fresh.storedEntries()) sizes.push_back(entry->originalSize());
        return std::make_tuple(log.statuses, log.codes, sizes);
    };
    const auto [statuses, codes, sizes] = run(1, u"one");
    const std::vector<int> expected{0, RESULT_BAD_DATA, 0, RESULT_BAD_DATA, 0, RESULT_BAD_LENGTH, RESULT_BAD_DATA,
                                    RESULT_OPEN_FAILED, RESULT_OPEN_FAILED, RESULT_BAD_DATA, 0, 0, 0};
    EXPECT_EQ(codes, expected);
    for (const unsigned threads : {2u, 3u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const std::u16string target = u"batch" + std::u16string(1, char16_t(u'0' + threads));
        const auto [batchStatuses, batchCodes, batchSizes] = run(threads, target);
        EXPECT_EQ(batchStatuses, statuses);
        EXPECT_EQ(batchCodes, codes);
        EXPECT_EQ(batchSizes, sizes);
        // The same files, and none for a failed entry.
        std::map<std::string, std::vector<uint8_t>> one, batch;
        for (const auto& [tree, files] : {std::pair{u"one", &one}, std::pair{target.c_str(), &batch}}) {
            for (const auto& item : fs::recursive_directory_iterator(fs::path(dir.native(tree)))) {
                if (item.is_regular_file()) {
                    (*files)[fs::relative(item.path(), fs::path(dir.native(tree))).generic_string()] =
                        readWholeFile(item.path().string());
                }
            }
        }
        EXPECT_EQ(batch, one);
        EXPECT_EQ(batch.size(), 6u);
        EXPECT_EQ(batch["data/large.bin"], large);
        EXPECT_EQ(batch["data/long-claim.txt"], sampleData(3000, 11));
    }
}

TEST(ParallelCheck, FindsWhatExtractionFindsAndWritesNothing) {
    TempDir dir;
    auto spoiled = deflateBytes(sampleData(90000, 1));
    spoiled[spoiled.size() / 2] ^= 0x55;
    TestArchive()
        .add("data\\first.txt", sampleData(40000, 4))
        .add("data\\spoiled.txt", sampleData(90000, 1)).stream(spoiled)
        .add("data\\large.bin", noiseData(3 << 20, 3))
        .add("data\\past-the-end.txt", sampleData(100, 6)).dataOffset(50000000)
        .add("..\\escape.txt", sampleData(100, 8))  // refused by extraction only: its data are fine
        .add("data\\long-claim.txt", sampleData(3000, 11)).originalSize(9000)
        .add("data\\empty.txt", "")
        .writeTo(dir);
    const auto filesIn = [&] {
        size_t count = 0;
        for (const auto& item : fs::recursive_directory_iterator(fs::path(dir.native(u"")))) count += item.is_regular_file();
        return count;
    };
    const size_t before = filesIn();
    for (const unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        GrfArchive archive;
        ASSERT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
        std::vector<GrfEntry*> entries;
        uint64_t total = 0;
        for (const auto& entry : archive.storedEntries()) {
            entries.push_back(entry.get());
            total += entry->compressedSize();
        }
        ProgressLog log(&archive);
        checkEntries(entries, false, log, threads);
        log.finish();
        EXPECT_EQ(log.codes, (std::vector<int>{0, RESULT_BAD_DATA, 0, RESULT_BAD_LENGTH, 0, 0, 0}));
        EXPECT_EQ(log.statuses.size(), entries.size());
        EXPECT_FALSE(log.wentBack);
        EXPECT_FALSE(log.otherThread);
        // What the failed entries read counts as far as they got; the others whole.
        EXPECT_LE(log.committed, total);
        EXPECT_EQ(archive.findStored("data\\long-claim.txt")->originalSize(), 3000u);
        EXPECT_EQ(filesIn(), before);
    }
    // A listener no one reads the statuses of (a quiet console) gets none, and every failure
    // still by its entry's name.
    struct QuietSink : ProgressSink {
        bool wantsStatus() const override { return false; }
        void reportStatus(const char16_t*) override { ++statuses; }
        void reportProgress(uint32_t, bool) override {}
        void reportItemFailure(const FailureReason& reason) override { failed.push_back(reason.subject); }
        size_t statuses = 0;
        std::vector<std::u16string> failed;
    } quiet;
    GrfArchive archive;
    ASSERT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
    std::vector<GrfEntry*> entries;
    for (const auto& entry : archive.storedEntries()) entries.push_back(entry.get());
    checkEntries(entries, false, quiet, 2);
    EXPECT_EQ(quiet.statuses, 0u);
    EXPECT_EQ(quiet.failed, (std::vector<std::u16string>{u"data\\spoiled.txt", u"data\\past-the-end.txt"}));
}

TEST(LargeEntries, SavedInPiecesComeBackWhole) {
    TempDir dir;
    const auto imported = noiseData(STREAM_ABOVE_BYTES / 2, 90);  // stored and inflated bytes pass the bound together
    TestArchive().add("data\\imported.bin", imported).writeTo(dir, u"source.grf");
    const auto file = sampleData(STREAM_ABOVE_BYTES + 3000, 91);
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
        const auto source = std::make_shared<GrfArchive>();
        ASSERT_TRUE(source->open(dir.file(u"source.grf"))) << describe(*source);
        ASSERT_TRUE(isStreamedEntry(*source->storedEntries()[0]));
        archive.importEntry(shareEntry(source, source->entryAt(0)));
        addFile(archive, dir, "data\\file.txt", file);
        addFile(archive, dir, "data\\small.txt", sampleData(500, 92));
        ProgressLog log;
        ASSERT_TRUE(saveArchive(archive, 1, false, log, 2)) << describe(archive);
        EXPECT_EQ(log.committed, imported.size() + file.size() + 500);
        EXPECT_FALSE(log.wentBack);
        archive.close();
    }
    GrfArchive saved;
    ASSERT_TRUE(saved.open(dir.file(u"test.grf"))) << describe(saved);
    const std::pair<const char*, const std::vector<uint8_t>*> expected[] = {{"data\\imported.bin", &imported},
                                                                           {"data\\file.txt", &file}};
    for (const auto& [name, bytes] : expected) {
        SCOPED_TRACE(name);
        GrfEntry* entry = saved.findStored(name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->originalSize(), bytes->size());
        ProgressLog log;
        ASSERT_TRUE(extractEntry(*entry, dir.file(u"back"), log)) << describe(saved);
        EXPECT_TRUE(readWholeFile(dir.native(u"back")) == *bytes);
    }
}

TEST(LargeEntries, ExtractAndCheckInPiecesAsWholeOnesDo) {
    TempDir dir;
    const auto large = sampleData(STREAM_ABOVE_BYTES + 5000, 80);
    auto spoiled = deflateBytes(large, 1);
    spoiled[spoiled.size() / 2] ^= 0x55;
    auto cut = deflateBytes(large, 1);
    cut.resize(cut.size() - 100);
    TestArchive()
        .add("data\\large.txt", large)
        .add("data\\spoiled.txt", large).stream(spoiled)
        .add("data\\cut.txt", large).stream(cut)
        .add("data\\short-claim.txt", large).originalSize(STREAM_ABOVE_BYTES)
        .add("data\\small.txt", sampleData(100, 81))
        .writeTo(dir);
    const std::vector<int> expected{0, RESULT_BAD_DATA, RESULT_BAD_DATA, RESULT_BAD_DATA, 0};
    for (const unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const std::u16string target = u"out" + std::u16string(1, char16_t(u'0' + threads));
        for (const bool extracting : {true, false}) {
            GrfArchive archive;
            ASSERT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
            ASSERT_TRUE(isStreamedEntry(*archive.storedEntries()[0]));
            std::vector<GrfEntry*> entries;
            uint64_t total = 0;
            for (const auto& entry : archive.storedEntries()) {
                entries.push_back(entry.get());
                total += entry->compressedSize();
            }
            ProgressLog log(&archive);
            if (extracting) {
                extractEntries(entries, dir.file(target), true, false, log, threads);
            } else {
                checkEntries(entries, false, log, threads);
            }
            log.finish();
            EXPECT_EQ(log.codes, expected);
            EXPECT_FALSE(log.wentBack);
            EXPECT_FALSE(log.otherThread);
            EXPECT_LE(log.committed, total);
        }
        // Damaged ones leave no file behind, even though they were written as they inflated.
        EXPECT_EQ(readWholeFile(dir.native(target + u"\\data\\large.txt")), large);
        for (const char16_t* gone : {u"\\data\\spoiled.txt", u"\\data\\cut.txt", u"\\data\\short-claim.txt"}) {
            EXPECT_FALSE(fs::exists(fs::path(dir.native(target + gone))));
        }
    }
    // One entry alone, as the window extracts it.
    GrfArchive archive;
    ASSERT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
    ProgressLog log;
    ASSERT_TRUE(extractEntry(*archive.storedEntries()[0], dir.file(u"alone.txt"), log)) << describe(archive);
    EXPECT_EQ(readWholeFile(dir.native(u"alone.txt")), large);
    EXPECT_EQ(log.committed, archive.storedEntries()[0]->compressedSize());
    EXPECT_FALSE(extractEntry(*archive.storedEntries()[1], dir.file(u"spoiled.txt"), log));
    EXPECT_EQ(archive.lastError.code, RESULT_BAD_DATA);
    EXPECT_FALSE(fs::exists(fs::path(dir.native(u"spoiled.txt"))));
}

TEST(ParallelExtract, ProgressReachesTheTotalAndMovesInsideALargeEntry) {
    TempDir dir;
    TestArchive()
        .add("data\\a.txt", sampleData(30000, 1))
        .add("data\\large.bin", noiseData(3 << 20, 2))
        .add("data\\b.txt", sampleData(100, 3))
        .writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
    std::vector<GrfEntry*> selection;
    uint64_t total = 0;
    for (const auto& entry : archive.storedEntries()) {
        selection.push_back(entry.get());
        total += entry->compressedSize();
    }
    ProgressLog log;
    extractEntries(selection, dir.file(u"out"), false, false, log, 2);
    EXPECT_EQ(log.statuses, (std::vector<std::u16string>{u"data\\a.txt", u"data\\large.bin", u"data\\b.txt"}));
    EXPECT_EQ(log.committed, total);
    EXPECT_FALSE(log.wentBack);
    EXPECT_FALSE(log.otherThread);
    const uint32_t largeStored = archive.findStored("data\\large.bin")->compressedSize();
    EXPECT_TRUE(std::any_of(log.inside.begin(), log.inside.end(),
                            [&](const auto& report) { return report.first == 1 && report.second < largeStored; }));
    EXPECT_EQ(readWholeFile(dir.native(u"out\\large.bin")), noiseData(3 << 20, 2));
}

TEST(ParallelExtract, FlatExtractionKeepsTheLastOfItsNamesakes) {
    TempDir dir;
    TestArchive archiveWriter;
    // Namesakes close together and far apart, small and large.
    for (int i = 0; i < 12; ++i) {
        archiveWriter.add("data\\d" + std::to_string(i) + "\\same.txt", sampleData(i == 5 ? (2 << 20) : 3000, 100 + i));
        archiveWriter.add("data\\d" + std::to_string(i) + "\\other" + std::to_string(i) + ".txt", sampleData(500, i));
    }
    archiveWriter.writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
    std::vector<GrfEntry*> selection;
    for (const auto& entry : archive.storedEntries()) selection.push_back(entry.get());
    ProgressLog log;
    extractEntries(selection, dir.file(u"flat"), false, false, log, 3);
    EXPECT_EQ(readWholeFile(dir.native(u"flat\\same.txt")), sampleData(3000, 111));
    EXPECT_EQ(readWholeFile(dir.native(u"flat\\other7.txt")), sampleData(500, 7));
}
