#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "archive/model/archive.h"
#include "archive/base/result_codes.h"
#include "tests/support/archive_writer.h"
#include "tests/support/recording_listener.h"
#include "tests/support/temp_dir.h"
#include "worker/task_worker.h"

namespace fs = std::filesystem;

namespace {

std::string narrow(const std::u16string& text) {
    std::string out;
    for (const char16_t unit : text) out.push_back(unit < 0x80 ? char(unit) : '?');
    return out;
}

// The reports of one task as lines, a run of progress reports as its last value. Checks on the
// way that progress never goes back.
std::vector<std::string> summary(const std::vector<RecordedReport>& reports) {
    std::vector<std::string> lines;
    uint64_t lastProgress = 0;
    bool inProgress = false;
    for (const RecordedReport& r : reports) {
        if (r.kind == Report::PROGRESS) {
            EXPECT_GE(r.value, inProgress ? lastProgress : 0) << describe(reports);
            lastProgress = r.value;
            if (inProgress) lines.pop_back();
            lines.push_back("progress " + std::to_string(r.value));
            inProgress = true;
            continue;
        }
        inProgress = false;
        switch (r.kind) {
        case Report::STARTED: lines.push_back("started " + std::to_string(r.value)); break;
        case Report::STATUS: lines.push_back("status " + narrow(r.text)); break;
        case Report::ITEM_FAILED: lines.push_back("failed " + narrow(r.text)); break;
        case Report::TOTAL: lines.push_back("total " + std::to_string(r.value)); break;
        case Report::FINISHED:
            lines.push_back("finished " + std::to_string(r.value) + " " + std::to_string(r.reason.code));
            break;
        default: break;
        }
    }
    return lines;
}

// The real procedures on a running worker, one task at a time, as the window drives them.
class WorkerDrive {
public:
    WorkerDrive() { EXPECT_TRUE(worker.start()); }

    // Runs one task to its end and answers its reports; `finished` gets the outcome's code.
    std::vector<std::string> run(uint32_t code, std::unique_ptr<TaskArgs> record, intptr_t* finished = nullptr) {
        const size_t before = listener.reports().size();
        worker.startTask(code, std::move(record));
        ++finishedCount;
        EXPECT_TRUE(listener.waitForFinished(finishedCount)) << describe(listener.reports());
        const auto all = listener.reports();
        const std::vector<RecordedReport> mine(all.begin() + before, all.end());
        if (finished != nullptr && !mine.empty()) *finished = mine.back().reason.code;
        return summary(mine);
    }

    RecordingListener listener;
    TaskWorker worker{listener};

private:
    size_t finishedCount = 0;
};

using Lines = std::vector<std::string>;

std::unique_ptr<TaskArgs> extractOneArgs(GrfEntry* entry, const std::u16string& targetPath) {
    auto record = std::make_unique<ExtractOneArgs>();
    record->entry = entry;
    record->targetPath = targetPath;
    return record;
}

std::unique_ptr<TaskArgs> addArchiveArgs(GrfArchive* archive, const std::u16string& otherPath) {
    auto record = std::make_unique<AddArchiveArgs>();
    record->archive = archive;
    record->otherPath = otherPath;
    return record;
}

std::unique_ptr<TaskArgs> saveArgs(GrfArchive* archive) {
    auto record = std::make_unique<SaveArgs>();
    record->archive = archive;
    return record;
}

std::string sizeText(uint64_t value) { return std::to_string(value); }

}  // namespace

TEST(TaskProcs, ExtractOneReportsTargetTotalAndResult) {
    TempDir dir;
    TestArchive().add("data\\a.txt", sampleData(200000, 1)).add("data\\far.txt", "x").dataOffset(1 << 24).writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
    GrfEntry* entry = archive.findStored("data\\a.txt");
    GrfEntry* unreadable = archive.findStored("data\\far.txt");
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(unreadable, nullptr);
    WorkerDrive run;

    const std::u16string target = dir.file(u"out.txt");
    EXPECT_EQ(run.run(TASK_EXTRACT_ONE, extractOneArgs(entry, target)),
              (Lines{"started 1", "status " + narrow(target), "total " + sizeText(entry->compressedSize()),
                     "progress " + sizeText(entry->compressedSize()), "finished 1 0"}));
    EXPECT_EQ(readWholeFile(dir.native(u"out.txt")), sampleData(200000, 1));

    const std::u16string other = dir.file(u"far.txt");
    EXPECT_EQ(run.run(TASK_EXTRACT_ONE, extractOneArgs(unreadable, other)),
              (Lines{"started 1", "status " + narrow(other), "total " + sizeText(unreadable->compressedSize()),
                     "finished 1 " + std::to_string(RESULT_BAD_LENGTH)}));
}

TEST(TaskProcs, ExtractSelectedAndAllCountCompressedBytes) {
    TempDir dir;
    TestArchive().add("data\\one\\x.txt", "first").add("data\\two\\x.txt", "second").add("data\\y.txt", "third").writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(dir.file(u"test.grf")));
    GrfEntry* first = archive.findStored("data\\one\\x.txt");
    GrfEntry* second = archive.findStored("data\\two\\x.txt");
    GrfEntry* third = archive.findStored("data\\y.txt");
    WorkerDrive run;

    // Without directories both x.txt land on the same file, the later one winning.
    auto selected = std::make_unique<ExtractListArgs>();
    selected->keepDirs = 0;
    selected->selection = {first, second};
    selected->targetDir = dir.file(u"flat");
    const uint64_t pair = uint64_t(first->compressedSize()) + second->compressedSize();
    EXPECT_EQ(run.run(TASK_EXTRACT_SELECTED, std::move(selected)),
              (Lines{"started 2", "total " + sizeText(pair), "status data\\one\\x.txt",
                     "progress " + sizeText(first->compressedSize()), "status data\\two\\x.txt",
                     "progress " + sizeText(pair), "finished 2 0"}));
    EXPECT_EQ(readWholeFile(dir.native(u"flat\\x.txt")), toBytes("second"));

    // A deleted entry is neither extracted nor counted: the bar ends at its total.
    archive.markDeleted(*third);
    auto all = std::make_unique<ExtractAllArgs>();
    all->archive = &archive;
    all->targetDir = dir.file(u"tree");
    EXPECT_EQ(run.run(TASK_EXTRACT_ALL, std::move(all)),
              (Lines{"started 3", "total " + sizeText(pair), "status data\\one\\x.txt",
                     "progress " + sizeText(first->compressedSize()), "status data\\two\\x.txt",
                     "progress " + sizeText(pair), "finished 3 0"}));

    // Picked by hand, the deleted row is named as failed, and its share of the bar still moves.
    auto picked = std::make_unique<ExtractListArgs>();
    picked->selection = {third};
    picked->targetDir = dir.file(u"picked");
    EXPECT_EQ(run.run(TASK_EXTRACT_SELECTED, std::move(picked)),
              (Lines{"started 2", "total " + sizeText(third->compressedSize()), "status data\\y.txt",
                     "progress " + sizeText(third->compressedSize()), "failed data\\y.txt", "finished 2 0"}));
    EXPECT_EQ(readWholeFile(dir.native(u"tree\\data\\one\\x.txt")), toBytes("first"));
    EXPECT_FALSE(fs::exists(fs::path(dir.native(u"tree\\data\\y.txt"))));

    GrfArchive empty;
    ASSERT_TRUE(empty.create(dir.file(u"empty.grf")));
    auto none = std::make_unique<ExtractAllArgs>();
    none->archive = &empty;
    none->targetDir = dir.file(u"none");
    EXPECT_EQ(run.run(TASK_EXTRACT_ALL, std::move(none)), (Lines{"started 3", "total 0", "finished 3 0"}));
}

TEST(TaskProcs, AddingTasksSendNoTotalAndNoProgress) {
    TempDir dir;
    fs::create_directories(fs::path(dir.native(u"src\\a")));
    std::ofstream(fs::path(dir.native(u"src\\a\\b.txt"))) << "bee";
    TestArchive().add("data\\other.txt", "other").writeTo(dir, u"other.grf");
    std::ofstream(fs::path(dir.native(u"junk.grf"))) << "not an archive at all, but long enough for a header";
    GrfArchive archive;
    ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
    WorkerDrive run;

    // With and without the trailing backslash the names are the same.
    for (const std::u16string& directory : {dir.file(u"src"), dir.file(u"src") + u"\\"}) {
        auto args = std::make_unique<AddDirectoryArgs>();
        args->archive = &archive;
        args->directory = directory;
        EXPECT_EQ(run.run(TASK_ADD_DIRECTORY, std::move(args)), (Lines{"started 4", "status data\\a\\b.txt", "finished 4 0"}));
    }
    EXPECT_EQ(archive.pendingEntries().size(), 1u);

    EXPECT_EQ(run.run(TASK_ADD_ARCHIVE, addArchiveArgs(&archive, dir.file(u"junk.grf"))),
              (Lines{"started 5", "finished 5 " + std::to_string(RESULT_INVALID_ARCHIVE)}));
    EXPECT_EQ(run.run(TASK_ADD_ARCHIVE, addArchiveArgs(&archive, dir.file(u"other.grf"))),
              (Lines{"started 5", "finished 5 0"}));
    ASSERT_EQ(archive.pendingEntries().size(), 2u);
    EXPECT_EQ(archive.pendingEntries()[1]->name(), "data\\other.txt");
}

TEST(TaskProcs, SaveReportsEachPendingEntryAndItsResult) {
    TempDir dir;
    {
        std::ofstream out(fs::path(dir.native(u"big.bin")), std::ios::binary);
        const auto data = sampleData(100000, 2);
        out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    }
    WorkerDrive run;
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
        archive.addFile("data\\big.bin", dir.file(u"big.bin"), 100000);
        archive.markDeleted(*archive.addFile("data\\gone.bin", dir.file(u"gone.bin"), 77));
        EXPECT_EQ(run.run(TASK_SAVE, saveArgs(&archive)),
                  (Lines{"started 6", "total 100000", "status data\\big.bin", "progress 100000", "finished 6 0"}));
    }
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.open(dir.file(u"test.grf")));
        EXPECT_EQ(archive.storedEntries().size(), 1u);
        EXPECT_EQ(run.run(TASK_SAVE, saveArgs(&archive)), (Lines{"started 6", "total 0", "finished 6 0"}));
        archive.addFile("data\\missing.bin", dir.file(u"missing.bin"), 5);
        EXPECT_EQ(run.run(TASK_SAVE, saveArgs(&archive)),
                  (Lines{"started 6", "total 5", "status data\\missing.bin", "failed " + narrow(dir.file(u"missing.bin")),
                         "finished 6 " + std::to_string(RESULT_OPEN_FAILED)}));
    }
}

TEST(TaskProcs, RecompressHandsBackTheArchiveToContinueWith) {
    TempDir dir;
    const auto data = sampleData(90000, 3);
    TestArchive().level(1).add("data\\a.txt", data).add("data\\b.txt", "bee").writeTo(dir);
    auto damaged = deflateBytes(sampleData(500, 4));
    damaged[damaged.size() / 2] ^= 0x55;
    TestArchive().add("data\\bad.txt", sampleData(500, 4)).stream(damaged).writeTo(dir, u"bad.grf");
    WorkerDrive run;
    const auto runRecompress = [&](std::unique_ptr<GrfArchive> archive, std::vector<std::string>& lines) {
        auto record = std::make_unique<RecompressArgs>();
        record->level = 9;
        record->archive = std::move(archive);
        lines = run.run(TASK_RECOMPRESS, std::move(record));
        // The record comes back with the completion: the window's from here on.
        auto completions = run.listener.takeCompletions();
        EXPECT_EQ(completions.size(), 1u);
        struct Back {
            std::unique_ptr<GrfArchive> resultArchive;
            int error;
        };
        auto& back = static_cast<RecompressArgs&>(*completions.back().args);
        return std::make_unique<Back>(Back{std::move(back.resultArchive), completions.back().outcome.code()});
    };

    std::vector<std::string> lines;
    auto old = std::make_unique<GrfArchive>();
    ASSERT_TRUE(old->open(dir.file(u"test.grf")));
    auto done = runRecompress(std::move(old), lines);
    EXPECT_EQ(lines, (Lines{"started 7", "total " + sizeText(data.size() + 3), "status data\\a.txt",
                            "progress " + sizeText(data.size()), "status data\\b.txt",
                            "progress " + sizeText(data.size() + 3), "finished 7 0"}));
    EXPECT_EQ(done->error, 0);
    std::unique_ptr<GrfArchive> result = std::move(done->resultArchive);
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->storedEntries().size(), 2u);
    EXPECT_EQ(result->storedEntries()[0]->offset(), 46u);

    // Failure B: the old file stays and is opened again.
    auto bad = std::make_unique<GrfArchive>();
    ASSERT_TRUE(bad->open(dir.file(u"bad.grf")));
    done = runRecompress(std::move(bad), lines);
    EXPECT_EQ(lines, (Lines{"started 7", "total 500", "status data\\bad.txt", "failed data\\bad.txt", "finished 7 " + std::to_string(RESULT_BAD_DATA)}));
    EXPECT_EQ(done->error, RESULT_BAD_DATA);
    std::unique_ptr<GrfArchive> reopened = std::move(done->resultArchive);
    ASSERT_NE(reopened, nullptr);
    EXPECT_TRUE(reopened->file.isOpen());

    // Failure A: no temporary file beside the archive; the window keeps its archive.
    reopened->path = dir.file(u"missing\\bad.grf");
    const GrfArchive* const kept = reopened.get();
    done = runRecompress(std::move(reopened), lines);
    EXPECT_EQ(lines, (Lines{"started 7", "finished 7 " + std::to_string(RESULT_OPEN_FAILED)}));
    EXPECT_NE(done->error, 0);
    EXPECT_EQ(done->resultArchive.get(), kept);

    // The worker goes on with the next task.
    auto all = std::make_unique<ExtractAllArgs>();
    all->archive = result.get();
    all->targetDir = dir.file(u"out");
    EXPECT_EQ(run.run(TASK_EXTRACT_ALL, std::move(all)).back(), "finished 3 0");
    EXPECT_EQ(readWholeFile(dir.native(u"out\\data\\a.txt")), data);

    for (const auto& item : fs::directory_iterator(fs::path(dir.native()))) {
        EXPECT_EQ(item.path().extension(), item.is_directory() ? "" : ".grf") << item.path();
    }
}

TEST(TaskProcs, TotalAbove4GiBTravelsInTwoHalvesAndFailedEntriesDoNotChangeTheResult) {
    TempDir dir;
    GrfArchive archive;
    ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
    auto args = std::make_unique<ExtractListArgs>();
    args->targetDir = dir.file(u"out");
    // Entries that claim the largest sizes: their data are nowhere, so each extraction fails.
    for (const char* name : {"data\\huge1.bin", "data\\huge2.bin"}) {
        EntryRecord record;
        record.name = name;
        record.compressedSize = record.storedSize = record.originalSize = 0xFFFFFFFFu;
        record.offset = 46;
        auto entry = std::make_unique<GrfEntry>(&archive, record, ENTRY_STORED);
        args->selection.push_back(entry.get());
        archive.adoptEntry(std::move(entry));
    }
    WorkerDrive run;
    EXPECT_EQ(run.run(TASK_EXTRACT_SELECTED, std::move(args)),
              (Lines{"started 2", "total 8589934590", "status data\\huge1.bin", "failed data\\huge1.bin",
                     "status data\\huge2.bin", "failed data\\huge2.bin", "finished 2 0"}));

}
