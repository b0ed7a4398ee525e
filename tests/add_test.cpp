#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <tuple>
#include <shared_mutex>
#include <thread>
#include <string>
#include <vector>

#include "archive/ops/save.h"
#include "archive/ops/merge.h"
#include "archive/model/archive.h"
#include "archive/format/entry_name.h"
#include "archive/format/name_hash.h"
#include "archive/base/progress_sink.h"
#include "platform/code_page.h"
#include "platform/exclusive_file.h"
#include "platform/name_limit.h"
#include "archive/base/result_codes.h"
#include "tests/support/archive_writer.h"
#include "tests/support/recording_listener.h"
#include "tests/support/temp_dir.h"
#include "worker/add_directory.h"
#include "worker/task_run.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// What a merge leaves out, by reason.
struct ItemSink : ProgressSink {
    void reportStatus(const char16_t*) override {}
    void reportProgress(uint32_t, bool) override {}
    void reportItemFailure(const FailureReason& reason) override { failures.push_back(reason); }
    std::vector<FailureReason> failures;
};

// `relative` is backslash-separated; built from UTF-16 pieces so non-ASCII names survive on Windows too.
fs::path nativePath(const TempDir& dir, const std::u16string& relative) {
    fs::path path(dir.native());
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t end = std::min(relative.find(u'\\', start), relative.size());
        if (end > start) {
            path /= fs::path(relative.substr(start, end - start));
        }
        start = end + 1;
    }
    return path;
}

// False when the file system refuses the name (a test then skips rather than fails).
bool writeFile(const TempDir& dir, const std::u16string& relative, const std::string& bytes = "x") {
    const fs::path path = nativePath(dir, relative);
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return out.good() && fs::exists(path);
}

// What TASK_ADD_DIRECTORY does with its record: the prefix is the chosen directory and its backslash.
void addDirectory(TaskRun& run, GrfArchive& archive, const std::u16string& directory, bool korean = false,
                  bool readNow = false) {
    AddDirectoryArgs args;
    args.useKoreanNames = korean ? 1 : 0;
    args.readSmallFilesNow = readNow ? 1 : 0;
    args.archive = &archive;
    args.directory = directory;
    const size_t prefix = directory.size() + (directory.empty() || directory.back() != u'\\' ? 1 : 0);
    addDirectoryTree(args, prefix, directory, run);
}

std::vector<std::string> addedNames(const GrfArchive& archive) {
    std::vector<std::string> names;
    for (const auto& entry : archive.pendingEntries()) {
        names.push_back(entry->name());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class AddTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setAnsiCodePage(platform::CODE_PAGE_WESTERN);
        // In place, so that the archive's own file is there to be found by the walk and the merge.
        ASSERT_TRUE(archive.createInPlace(work.file(u"target.grf"))) << archive.lastError.code;
    }

    TempDir work;
    TempDir files;
    RecordingListener listener;
    TaskRun worker{listener};
    GrfArchive archive;
};

}  // namespace

TEST_F(AddTest, NamesFilesDataAndThePathBelowTheChosenDirectory) {
    ASSERT_TRUE(writeFile(files, u"game\\data\\tex\\a.bmp", "abc"));
    ASSERT_TRUE(writeFile(files, u"game\\data\\empty.txt", ""));

    const struct {
        const char* what;
        std::u16string directory;
        std::vector<std::string> names;
    } cases[] = {
        {"the data directory itself", files.file(u"game\\data"), {"data\\empty.txt", "data\\tex\\a.bmp"}},
        {"with a trailing backslash", files.file(u"game\\data\\"), {"data\\empty.txt", "data\\tex\\a.bmp"}},
        {"its parent: data comes in front all the same", files.file(u"game"),
         {"data\\data\\empty.txt", "data\\data\\tex\\a.bmp"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GrfArchive target;
        ASSERT_TRUE(target.create(work.file(u"case.grf")));
        addDirectory(worker, target, c.directory);
        EXPECT_EQ(addedNames(target), c.names);
        EXPECT_TRUE(target.isModified());
        for (const auto& entry : target.pendingEntries()) {
            EXPECT_EQ(entry->state(), ENTRY_ADDED);
            EXPECT_EQ(entry->source(), SOURCE_DISK_FILE);
            EXPECT_EQ(target.findAdded(entry->name()), entry.get());
            const bool isEmpty = entry->name().ends_with("empty.txt");
            EXPECT_EQ(entry->originalSize(), isEmpty ? 0u : 3u) << entry->name();
            EXPECT_EQ(entry->sourcePath(), files.file(isEmpty ? u"game\\data\\empty.txt" : u"game\\data\\tex\\a.bmp"));
        }
        target.close();
    }
}

TEST_F(AddTest, ReportsEachFileNameAndWalksSubdirectoriesAtOnce) {
    ASSERT_TRUE(writeFile(files, u"a\\1.txt"));
    ASSERT_TRUE(writeFile(files, u"a\\b\\2.txt"));
    ASSERT_TRUE(writeFile(files, u"a\\b\\3.txt"));
    ASSERT_TRUE(writeFile(files, u"c\\4.txt"));
    ASSERT_TRUE(writeFile(files, u"5.txt"));

    addDirectory(worker, archive, files.path());

    std::vector<std::u16string> statuses;
    for (const auto& report : listener.reports()) {
        EXPECT_EQ(report.kind, Report::STATUS);
        statuses.push_back(report.text);
    }
    ASSERT_EQ(statuses.size(), 5u);
    ASSERT_EQ(archive.pendingEntries().size(), 5u);
    // Depth-first: everything below one directory comes together, whatever order the system lists in.
    const auto position = [&](const std::u16string& name) {
        return std::find(statuses.begin(), statuses.end(), name) - statuses.begin();
    };
    const auto b2 = position(u"data\\a\\b\\2.txt");
    const auto b3 = position(u"data\\a\\b\\3.txt");
    const auto a1 = position(u"data\\a\\1.txt");
    const auto c4 = position(u"data\\c\\4.txt");
    ASSERT_LT(std::max({b2, b3, a1, c4, position(u"data\\5.txt")}), 5);
    EXPECT_EQ(std::abs(b2 - b3), 1);
    EXPECT_TRUE(std::abs(a1 - std::min(b2, b3)) == 1 || std::abs(a1 - std::max(b2, b3)) == 1);
    EXPECT_TRUE(c4 < std::min({a1, b2, b3}) || c4 > std::max({a1, b2, b3}));
    // The entries are appended in the order they were reported.
    for (size_t i = 0; i < statuses.size(); ++i) {
        EXPECT_EQ(archive.pendingEntries()[i]->nameAnsi(), statuses[i]);
    }
}

TEST_F(AddTest, AddingAgainReusesPendingEntriesAndRevivesDeletedOnes) {
    ASSERT_TRUE(writeFile(files, u"x\\a.txt", "12345"));
    ASSERT_TRUE(writeFile(files, u"b.txt"));
    addDirectory(worker, archive, files.path());
    ASSERT_EQ(archive.pendingEntries().size(), 2u);
    GrfEntry* const a = archive.findAdded("data\\x\\a.txt");
    ASSERT_NE(a, nullptr);
    archive.markDeleted(*a);

    ASSERT_TRUE(writeFile(files, u"x\\a.txt", "1234567"));
    addDirectory(worker, archive, files.path());

    EXPECT_EQ(archive.pendingEntries().size(), 2u);
    EXPECT_EQ(archive.addedNameIndex().size(), 2u);
    EXPECT_EQ(archive.findAdded("data\\x\\a.txt"), a);
    EXPECT_EQ(a->state(), ENTRY_ADDED);
    EXPECT_EQ(a->originalSize(), 7u);
}

// An add that a save follows at once reads small files as it goes; the save stores those bytes
// without opening the files again, and the archive comes out the same.
TEST_F(AddTest, SmallFilesReadAtOnceMakeTheSameArchive) {
    ASSERT_TRUE(writeFile(files, u"a.txt", "small file, small file, small file"));
    ASSERT_TRUE(writeFile(files, u"sub\\empty.txt", ""));
    ASSERT_TRUE(writeFile(files, u"sub\\large.bin", std::string(100000, 'L')));
    std::vector<std::vector<char>> bytes;
    for (const bool readNow : {false, true}) {
        SCOPED_TRACE(readNow ? "read at once" : "read by the save");
        const std::u16string path = work.file(readNow ? u"now.grf" : u"later.grf");
        GrfArchive target;
        ASSERT_TRUE(target.createInPlace(path));
        addDirectory(worker, target, files.path(), false, readNow);
        ASSERT_EQ(target.pendingEntries().size(), 3u);
        for (const auto& entry : target.pendingEntries()) {
            EXPECT_EQ(entry->holdsFileBytes(), readNow && entry->originalSize() < 100000) << entry->name();
        }
        ASSERT_TRUE(saveArchive(target, 6, false, worker)) << describe(target);
        for (const auto& entry : target.pendingEntries()) EXPECT_FALSE(entry->holdsFileBytes());
        target.close();
        std::ifstream in(fs::path(readNow ? work.native(u"now.grf") : work.native(u"later.grf")), std::ios::binary);
        bytes.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_GT(bytes[0].size(), 46u);
    EXPECT_EQ(bytes[0], bytes[1]);
}

TEST_F(AddTest, LeavesOutTheArchiveItselfSoThatItCanStillBeSaved) {
    // A file exactly as long as the archive is someone else's all the same.
    const auto archiveLength = fs::file_size(work.native(u"target.grf"));
    ASSERT_TRUE(writeFile(work, u"twin.bin", std::string(archiveLength, 't')));
    ASSERT_TRUE(writeFile(work, u"sub\\a.txt", "abc"));
    const std::vector<std::string> expected{"data\\sub\\a.txt", "data\\twin.bin"};
    const std::u16string spellings[] = {work.path(), work.path() + u"\\.\\"};
    for (const std::u16string& directory : spellings) {
        SCOPED_TRACE(std::string(directory.begin(), directory.end()));
        addDirectory(worker, archive, directory);
        EXPECT_EQ(addedNames(archive), expected);
    }

    ASSERT_TRUE(saveArchive(archive, 6, false, worker)) << archive.lastError.code;
    archive.close();
    GrfArchive reopened;
    ASSERT_TRUE(reopened.open(work.file(u"target.grf"))) << reopened.lastError.code;
    EXPECT_EQ(reopened.storedEntries().size(), 2u);
}

TEST_F(AddTest, SkipsFilesWhoseNamesTheCodePageCannotHold) {
    ASSERT_TRUE(writeFile(files, u"plain.txt"));
    // Hangul has no place in the western code page; in code page 949 each syllable takes two
    // bytes, so this path fits the file system but not the table's 259 bytes.
    const std::u16string hangul = u"\uD55C\uAE00.txt";
    const std::u16string longDir(60, u'\uAC00');
    const std::u16string longName = std::u16string(70, u'\uAC01') + u".txt";
    if (!writeFile(files, hangul) || !writeFile(files, longDir + u"\\" + longName)) {
        GTEST_SKIP() << "the file system here takes no Hangul names";
    }

    std::vector<std::pair<std::u16string, Cause>> leftOut;
    listener.onReport = [&leftOut](const RecordedReport& recorded) {
        if (recorded.kind != Report::ITEM_FAILED) return;
        leftOut.emplace_back(recorded.reason.subject, recorded.reason.cause);
    };
    addDirectory(worker, archive, files.path(), false);
    EXPECT_EQ(addedNames(archive), std::vector<std::string>{"data\\plain.txt"});
    // Skipped files are named in the status line, then once more with why they were left out.
    const auto reports = listener.reports();
    EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                            [](const RecordedReport& r) { return r.kind == Report::STATUS; }),
              3);
    std::sort(leftOut.begin(), leftOut.end());
    std::vector<std::pair<std::u16string, Cause>> expected = {
        {u"data\\" + hangul, Cause::NAME_NOT_ENCODABLE},
        {u"data\\" + longDir + u"\\" + longName, Cause::NAME_NOT_ENCODABLE}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(leftOut, expected);
    EXPECT_EQ(worker.itemFailures(), 2u);
    leftOut.clear();

    GrfArchive korean;
    ASSERT_TRUE(korean.create(work.file(u"korean.grf")));
    addDirectory(worker, korean, files.path(), true);
    ASSERT_EQ(korean.pendingEntries().size(), 2u) << ::testing::PrintToString(addedNames(korean));
    ASSERT_EQ(leftOut.size(), 1u);
    EXPECT_EQ(leftOut[0].second, Cause::NAME_TOO_LONG);
    EXPECT_NE(korean.findAdded("data\\plain.txt"), nullptr);
    EXPECT_NE(korean.findAdded(std::string("data\\\xC7\xD1\xB1\xDB.txt")), nullptr);
    korean.close();
}

TEST_F(AddTest, RenameRefusesTakenNamesAndRekeysTheEntry) {
    // Pending entries as an unmodified archive would hold them.
    const auto adopt = [this](const char* name, EntryState state) {
        auto entry = std::make_unique<GrfEntry>(&archive, state);
        entry->setName(name);
        return archive.adoptEntry(std::move(entry));
    };
    GrfEntry* const a = adopt("data\\a.txt", ENTRY_ADDED);
    adopt("data\\b.txt", ENTRY_ADDED);
    adopt("data\\gone.txt", ENTRY_DELETED);
    ASSERT_FALSE(archive.isModified());

    const struct {
        const char* what;
        std::string newName;
        RenameResult result;
    } refused[] = {
        {"its own name in other case is kept as it is", "DATA\\A.TXT", RenameResult::RENAMED},
        {"a pending entry's name", "data\\B.txt", RenameResult::NAME_TAKEN},
        {"a deleted entry still holds its name", "data\\gone.txt", RenameResult::NAME_TAKEN},
        {"more than 259 bytes", "data\\" + std::string(255, 'n'), RenameResult::INVALID_NAME},
        {"empty", "", RenameResult::INVALID_NAME},
        {"a zero byte inside", std::string("data\\c\0d.txt", 12), RenameResult::INVALID_NAME},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(a->rename(c.newName), c.result);
        EXPECT_EQ(a->name(), "data\\a.txt");
        EXPECT_FALSE(archive.isModified());
    }

    ASSERT_EQ(a->rename("data\\renamed.txt"), RenameResult::RENAMED);
    EXPECT_TRUE(archive.isModified());
    EXPECT_EQ(a->nameAnsi(), u"data\\renamed.txt");
    EXPECT_EQ(archive.findAdded("data\\RENAMED.txt"), a);
    EXPECT_EQ(archive.findAdded("data\\a.txt"), nullptr);
    EXPECT_EQ(archive.addedNameIndex().size(), 3u);

    // Found under its new name: a file of that name re-sources it; the old name is free again.
    ASSERT_TRUE(writeFile(files, u"renamed.txt", "new"));
    ASSERT_TRUE(writeFile(files, u"a.txt"));
    addDirectory(worker, archive, files.path());
    EXPECT_EQ(archive.pendingEntries().size(), 4u);
    EXPECT_EQ(a->sourcePath(), files.file(u"renamed.txt"));
    EXPECT_NE(archive.findAdded("data\\a.txt"), a);
    EXPECT_NE(archive.findAdded("data\\a.txt"), nullptr);
}

namespace {

// The runtime's answer when a file is held by an open archive.
constexpr int FILE_HELD = 13;

// 0 when nobody holds the file any more, FILE_HELD while an archive still has it open.
int tryToUpdate(const std::u16string& path) {
    platform::ExclusiveFile file;
    return file.open(path, platform::ExclusiveFile::Mode::UPDATE);
}

}  // namespace

TEST_F(AddTest, AddingMarksEveryStoredCaseVariantDeleted) {
    const auto path = TestArchive()
                          .add("data\\A.txt", "old one")
                          .add("data\\a.TXT", "old two")
                          .add("data\\keep.txt", "kept")
                          .writeTo(work, u"stored.grf");
    GrfArchive stored;
    ASSERT_TRUE(stored.open(path)) << describe(stored);
    ASSERT_TRUE(writeFile(files, u"a.txt", "new"));

    addDirectory(worker, stored, files.path());

    EXPECT_EQ(stored.storedEntries()[0]->state(), ENTRY_DELETED);
    EXPECT_EQ(stored.storedEntries()[1]->state(), ENTRY_DELETED);
    EXPECT_EQ(stored.storedEntries()[2]->state(), ENTRY_STORED);
    ASSERT_EQ(stored.pendingEntries().size(), 1u);
    EXPECT_EQ(stored.pendingEntries()[0]->name(), "data\\a.txt");
    EXPECT_TRUE(stored.isModified());
}

TEST_F(AddTest, RenamesStoredEntriesWithinTheStoredIndex) {
    const auto path = TestArchive().add("data\\a.txt", "a").add("data\\b.txt", "b").writeTo(work, u"stored.grf");
    GrfArchive stored;
    ASSERT_TRUE(stored.open(path)) << describe(stored);
    ASSERT_TRUE(writeFile(files, u"pending.txt"));
    addDirectory(worker, stored, files.path());
    GrfEntry* const a = stored.findStored("data\\a.txt");
    ASSERT_NE(a, nullptr);

    EXPECT_EQ(a->rename("data\\B.TXT"), RenameResult::NAME_TAKEN);
    EXPECT_EQ(a->rename("data\\pending.txt"), RenameResult::NAME_TAKEN);
    ASSERT_EQ(a->rename("data\\c.txt"), RenameResult::RENAMED);
    EXPECT_EQ(stored.findStored("data\\c.txt"), a);
    EXPECT_EQ(stored.findStored("data\\a.txt"), nullptr);
    EXPECT_EQ(stored.findAdded("data\\c.txt"), nullptr);
    EXPECT_EQ(stored.storedNameIndex().size(), 2u);
    EXPECT_EQ(a->state(), ENTRY_STORED);
}

TEST_F(AddTest, MergeKeepsTheLaterOfCaseVariantNamesAndHoldsItsSource) {
    const auto sourcePath = TestArchive()
                                .add("data\\A.txt", "one")
                                .add("data\\a.TXT", "second")
                                .add("data\\b.txt", "b")
                                .writeTo(files, u"source.grf");
    const auto targetPath = TestArchive()
                                .add("data\\a.txt", "stored")
                                .add("data\\A.TXT", "stored duplicate")
                                .add("data\\keep.txt", "k")
                                .writeTo(work, u"t.grf");
    GrfArchive target;
    ASSERT_TRUE(target.open(targetPath)) << describe(target);

    ItemSink sink;
    ASSERT_TRUE(mergeArchive(target, sourcePath, sink));
    EXPECT_TRUE(sink.failures.empty());

    EXPECT_EQ(target.storedEntries()[0]->state(), ENTRY_DELETED);
    EXPECT_EQ(target.storedEntries()[1]->state(), ENTRY_DELETED);
    EXPECT_EQ(target.storedEntries()[2]->state(), ENTRY_STORED);
    ASSERT_EQ(target.pendingEntries().size(), 2u);
    GrfEntry* const a = target.findAdded("data\\a.txt");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->name(), "data\\a.TXT");
    EXPECT_EQ(a->source(), SOURCE_OTHER_ENTRY);
    ASSERT_NE(a->sourceEntry(), nullptr);
    EXPECT_EQ(a->sourceEntry()->name(), "data\\a.TXT");
    EXPECT_EQ(a->originalSize(), 6u);
    EXPECT_EQ(a->sourceEntry().use_count(), 2) << "both pending entries, and nothing else, hold the source";
    EXPECT_TRUE(target.isModified());

    // The source lives exactly as long as the entries drawing from it.
    EXPECT_EQ(tryToUpdate(sourcePath), FILE_HELD);
    target.close();
    EXPECT_EQ(tryToUpdate(sourcePath), 0);
}

TEST_F(AddTest, ImportingOntoAnEntryOfTheSameSourceKeepsThatSourceAlive) {
    const auto sourcePath = TestArchive().add("data\\X.txt", "1").add("data\\x.txt", "22").writeTo(files, u"s.grf");
    // Held only by the references of the entries imported from it, as after a merge.
    auto owner = std::make_shared<GrfArchive>();
    ASSERT_TRUE(owner->open(sourcePath)) << describe(*owner);
    const GrfEntry* const lentSecond = owner->storedEntries()[1].get();
    GrfEntry* const first = archive.importEntry(shareEntry(owner, owner->storedEntries()[0].get()));
    GrfEntry* const second = archive.importEntry(shareEntry(owner, lentSecond));
    const std::weak_ptr<GrfArchive> watch = owner;
    owner.reset();

    EXPECT_EQ(first, second);
    EXPECT_EQ(tryToUpdate(sourcePath), FILE_HELD) << "the source was destroyed while still in use";
    EXPECT_EQ(second->sourceEntry().get(), lentSecond);
    EXPECT_EQ(second->originalSize(), 2u);
    EXPECT_EQ(watch.use_count(), 1);
    archive.close();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(tryToUpdate(sourcePath), 0);
}

// Entries whose data their archive cannot hold are named and left out; the rest is merged.
TEST_F(AddTest, MergeLeavesOutEntriesWhoseDataAreNotThereByName) {
    const auto sourcePath = TestArchive()
                                .add("data\\past.txt", "abc")
                                .storedSize(1 << 20)
                                .add("data\\good.txt", "good")
                                .add("data\\wrapped.txt", "abc")
                                .dataOffset(10)
                                .writeTo(files, u"source.grf");
    ItemSink sink;
    ASSERT_TRUE(mergeArchive(archive, sourcePath, sink));
    ASSERT_EQ(archive.pendingEntries().size(), 1u);
    EXPECT_EQ(archive.pendingEntries()[0]->name(), "data\\good.txt");
    ASSERT_EQ(sink.failures.size(), 2u);
    EXPECT_EQ(sink.failures[0].subject, u"data\\past.txt");
    EXPECT_EQ(sink.failures[0].code, RESULT_BAD_LENGTH);
    EXPECT_EQ(sink.failures[1].subject, u"data\\wrapped.txt");
    EXPECT_EQ(sink.failures[1].cause, Cause::UNREACHABLE_POSITION);
}

TEST_F(AddTest, FailedOrEmptyMergeLeavesNothingBehind) {
    ASSERT_TRUE(writeFile(files, u"not.grf", std::string(100, 'z')));
    const auto emptyPath = TestArchive().writeTo(files, u"empty.grf");
    const struct {
        const char* what;
        std::u16string path;
        int expected;
    } cases[] = {
        {"not an archive", files.file(u"not.grf"), RESULT_INVALID_ARCHIVE},
        {"the target's own file, held open", work.file(u"target.grf"), FILE_HELD},
        {"an archive without entries", emptyPath, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ItemSink sink;
        EXPECT_EQ(mergeArchive(archive, c.path, sink).code(), c.expected);
        if (c.expected != 0) {
            EXPECT_EQ(archive.lastError.code, c.expected);
        }
        EXPECT_TRUE(archive.pendingEntries().empty());
        EXPECT_FALSE(archive.isModified());
    }
    // The empty archive was opened, referenced by nothing, and released again.
    EXPECT_EQ(tryToUpdate(emptyPath), 0);
}

TEST_F(AddTest, TheWindowMayReadTheListWhileATaskAdds) {
    for (int i = 0; i < 200; ++i) {
        const std::string name = "d" + std::to_string(i % 7) + "\\f" + std::to_string(i) + ".txt";
        ASSERT_TRUE(writeFile(files, std::u16string(name.begin(), name.end())));
    }
    ASSERT_TRUE(writeFile(files, u"x.txt"));
    // What the list view does while it paints: count rows and read names under the shared lock.
    std::atomic<bool> done{false};
    size_t unitsRead = 0;  // the window thread's own; read after the join
    std::thread window([&] {
        while (!done.load()) {
            const std::shared_lock lock(archive.listLock);
            for (const auto& entry : archive.pendingEntries()) {
                unitsRead += entry->nameAnsi().size() + entry->name().size() + size_t(entry->state());
            }
        }
    });

    addDirectory(worker, archive, files.path());
    GrfEntry* const x = archive.findAdded("data\\x.txt");
    const bool renamed = x != nullptr && x->rename("data\\y.txt") == RenameResult::RENAMED;
    done = true;
    window.join();
    EXPECT_TRUE(renamed);
    EXPECT_EQ(archive.pendingEntries().size(), 201u);
    EXPECT_EQ(archive.findAdded("data\\y.txt"), x);
    RecordProperty("unitsRead", std::to_string(unitsRead));
}

// An opened table's wide names and its name index are made when first asked for, by whichever
// thread asks: two at once get the same, the names decoded as the code page was at the open.
TEST_F(AddTest, NamesAndTheIndexAreMadeWhenFirstAskedOnAnyThread) {
    TestArchive writer;
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) names.push_back("data\\\xC7\xD1\xB1\xDB" + std::to_string(i) + ".txt");
    for (const std::string& name : names) writer.add(name, "x");
    GrfArchive opened;
    ASSERT_TRUE(opened.open(writer.writeTo(work, u"names.grf"))) << describe(opened);
    platform::setAnsiCodePage(platform::CODE_PAGE_KOREAN);
    struct Seen {
        std::vector<const std::u16string*> ansi;
        std::vector<const std::u16string*> korean;
        std::vector<const GrfEntry*> found;
    };
    const auto look = [&](Seen& seen) {
        const std::shared_lock lock(opened.listLock);
        for (const auto& entry : opened.storedEntries()) {
            seen.ansi.push_back(&entry->nameAnsi());
            seen.korean.push_back(&entry->nameKorean());
            seen.found.push_back(opened.findStored(entry->name()));
        }
    };
    Seen first, second;
    std::thread other([&] { look(second); });
    look(first);
    other.join();
    platform::setAnsiCodePage(platform::CODE_PAGE_WESTERN);
    ASSERT_EQ(first.ansi.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const GrfEntry& entry = *opened.storedEntries()[i];
        EXPECT_EQ(first.ansi[i], second.ansi[i]);
        EXPECT_EQ(first.korean[i], second.korean[i]);
        EXPECT_EQ(*first.ansi[i], platform::decodeText(names[i], platform::CODE_PAGE_WESTERN));
        const std::string number = std::to_string(i);
        EXPECT_EQ(*first.korean[i], u"data\\한글" + std::u16string(number.begin(), number.end()) + u".txt");
        EXPECT_EQ(first.found[i], &entry);
        EXPECT_EQ(second.found[i], &entry);
    }
}

namespace {

// What the worker named as left out: subject, cause and system error, in subject order.
using LeftOut = std::tuple<std::u16string, Cause, int>;

std::vector<LeftOut> leftOutItems(const RecordingListener& listener) {
    std::vector<LeftOut> items;
    for (const auto& report : listener.reports()) {
        if (report.kind != Report::ITEM_FAILED) continue;
        items.emplace_back(report.reason.subject, report.reason.cause, report.reason.systemError);
    }
    std::sort(items.begin(), items.end());
    return items;
}

std::vector<FailureReason> leftOutReasons(const RecordingListener& listener) {
    std::vector<FailureReason> reasons;
    for (const auto& report : listener.reports()) {
        if (report.kind == Report::ITEM_FAILED) reasons.push_back(report.reason);
    }
    return reasons;
}

#ifndef _WIN32
// Runs `work` on this thread as the unprivileged user 65534 when the test runs as root, whom no
// permission stops. Only this thread's effective user changes (the raw system call: the C
// library's would change every thread) and it is back before returning; root keeps its saved
// user meanwhile. False when the system refuses the change.
bool runUnprivileged(const std::function<void()>& work) {
    if (geteuid() != 0) {
        work();
        return true;
    }
    if (syscall(SYS_setresuid, -1, 65534, -1) != 0) return false;
    work();
    if (syscall(SYS_setresuid, -1, 0, -1) != 0) std::abort();   // the rest of the run would be someone else's
    return true;
}
#endif

}  // namespace

// A folder or file that cannot be read is named with the system's cause and left out alone: the
// rest is added, and the save stores it, where one such file used to fail the whole save.
TEST_F(AddTest, LeavesOutWhatCannotBeReadAndSavesTheRest) {
    ASSERT_TRUE(writeFile(files, u"ok.txt", "ok"));
    ASSERT_TRUE(writeFile(files, u"sub\\ok2.txt", "ok2"));
    ASSERT_TRUE(writeFile(files, u"held.txt", "held"));
    // Another program writing the file holds it alone, on both systems.
    platform::ExclusiveFile holder;
    ASSERT_EQ(holder.open(files.file(u"held.txt"), platform::ExclusiveFile::Mode::UPDATE), 0);
    std::vector<LeftOut> expected = {{files.file(u"held.txt"), Cause::IN_USE, EACCES}};

#ifdef _WIN32
    addDirectory(worker, archive, files.path());
#else
    ASSERT_TRUE(writeFile(files, u"unread.txt", "secret"));
    ASSERT_TRUE(writeFile(files, u"locked\\below.txt", "below"));
    fs::permissions(files.native(u"unread.txt"), fs::perms::none);
    fs::permissions(files.native(u"locked"), fs::perms::none);
    struct Restore {
        const TempDir& dir;
        ~Restore() {
            fs::permissions(dir.native(u"locked"), fs::perms::owner_all);
            fs::permissions(dir.native(u"unread.txt"), fs::perms::owner_all);
        }
    } restore{files};
    if (!runUnprivileged([&] { addDirectory(worker, archive, files.path()); })) {
        GTEST_SKIP() << "this system lets no test drop root's rights";
    }
    expected.emplace_back(files.file(u"locked\\"), Cause::PERMISSION_DENIED, EACCES);
    expected.emplace_back(files.file(u"unread.txt"), Cause::PERMISSION_DENIED, EACCES);
    std::sort(expected.begin(), expected.end());
#endif

    EXPECT_EQ(leftOutItems(listener), expected);
    EXPECT_EQ(worker.itemFailures(), expected.size());
    EXPECT_EQ(addedNames(archive), (std::vector<std::string>{"data\\ok.txt", "data\\sub\\ok2.txt"}));
    ASSERT_TRUE(saveArchive(archive, 6, false, worker)) << describe(archive);
    archive.close();
    GrfArchive reopened;
    ASSERT_TRUE(reopened.open(work.file(u"target.grf"))) << describe(reopened);
    EXPECT_EQ(reopened.storedEntries().size(), 2u);
}

// The archive keeps one entry per name, letter case aside: of two files one add would store
// under one name, the first stays and the second is named beside it. A namesake from before the
// add, stored or pending, is replaced as an update.
TEST_F(AddTest, KeepsTheFirstOfNamesThatDifferOnlyInCase) {
    const std::pair<std::u16string, std::u16string> pairs[] = {
        {u"man2\\_exit.2.gz", u"man2\\_Exit.2.gz"},
        {u"html\\faq.html", u"html\\FAQ.html"},
        {u"Docs\\a.txt", u"docs\\a.txt"},   // folders that differ in case
    };
    for (const auto& [first, second] : pairs) {
        ASSERT_TRUE(writeFile(files, first, "first"));
        ASSERT_TRUE(writeFile(files, second, "second, longer"));
    }
    if (std::distance(fs::directory_iterator(files.native(u"man2")), fs::directory_iterator()) != 2) {
        GTEST_SKIP() << "the file system here folds letter case";
    }
    const auto path = TestArchive().add("data\\MAN2\\_EXIT.2.GZ", "stored").add("data\\kept.txt", "k").writeTo(work, u"stored.grf");
    GrfArchive stored;
    ASSERT_TRUE(stored.open(path)) << describe(stored);

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round == 1 ? "first add" : "the same tree again: the pending entries are updated");
        addDirectory(worker, stored, files.path());
        const auto reasons = leftOutReasons(listener);
        ASSERT_EQ(reasons.size(), 3u * round);
        EXPECT_EQ(stored.pendingEntries().size(), 3u);
        for (size_t i = reasons.size() - 3; i < reasons.size(); ++i) {
            const FailureReason& reason = reasons[i];
            EXPECT_EQ(reason.cause, Cause::NAME_CASE_COLLISION);
            EXPECT_TRUE(reason.subjectIsEntry);
            // The one kept is the entry, drawing from its own file.
            const GrfEntry* const kept = stored.findAdded(std::string(reason.otherName.begin(), reason.otherName.end()));
            ASSERT_NE(kept, nullptr);
            EXPECT_EQ(kept->nameAnsi(), reason.otherName);
            EXPECT_NE(reason.subject, reason.otherName);
            EXPECT_EQ(kept->sourcePath(), files.path() + reason.otherName.substr(4));
        }
    }
    EXPECT_EQ(stored.storedEntries()[0]->state(), ENTRY_DELETED);
    EXPECT_EQ(stored.storedEntries()[1]->state(), ENTRY_STORED);
}

#ifndef _WIN32
// Links are followed where they lead to a file or to a folder outside the walk; whatever cannot
// be taken is named with its cause instead of vanishing.
TEST_F(AddTest, NamesLinksPipesAndNamesItCannotTake) {
    ASSERT_TRUE(writeFile(files, u"keep.txt", "keep"));
    ASSERT_TRUE(writeFile(files, u"sub\\inner.txt", "inner"));
    ASSERT_TRUE(writeFile(work, u"outside\\o.txt", "outside"));
    ASSERT_EQ(symlink(files.native(u"keep.txt").c_str(), files.native(u"alias.txt").c_str()), 0);
    ASSERT_EQ(symlink(work.native(u"outside").c_str(), files.native(u"elsewhere").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", files.native(u"dangling").c_str()), 0);
    ASSERT_EQ(symlink("self", files.native(u"self").c_str()), 0);
    ASSERT_EQ(symlink("..", files.native(u"sub\\up").c_str()), 0);
    ASSERT_EQ(symlink(files.native().c_str(), files.native(u"sub\\top").c_str()), 0);
    ASSERT_EQ(mkfifo(files.native(u"pipe").c_str(), 0644), 0);
    ASSERT_EQ(mknod(files.native(u"socket").c_str(), S_IFSOCK | 0644, 0), 0);
    { std::ofstream(files.native() + "/back\\slash.txt") << "b"; }

    addDirectory(worker, archive, files.path());

    const std::vector<LeftOut> expected = {
        {files.file(u"back\\slash.txt"), Cause::NAME_HAS_BACKSLASH, 0},
        {files.file(u"dangling"), Cause::NOT_FOUND, ENOENT},
        {files.file(u"pipe"), Cause::NOT_REGULAR_FILE, 0},
        {files.file(u"self"), Cause::OTHER_SYSTEM_ERROR, ELOOP},
        {files.file(u"socket"), Cause::NOT_REGULAR_FILE, 0},
        {files.file(u"sub\\top"), Cause::LINK_LOOP, 0},
        {files.file(u"sub\\up"), Cause::LINK_LOOP, 0},
    };
    EXPECT_EQ(leftOutItems(listener), expected);
    EXPECT_EQ(worker.itemFailures(), expected.size());
    for (const FailureReason& reason : leftOutReasons(listener)) {
        EXPECT_FALSE(causeText(reason).empty()) << int(reason.cause);
        if (reason.cause == Cause::NAME_HAS_BACKSLASH) {
            EXPECT_EQ(reason.otherName, u"back\\slash.txt");
        }
    }
    EXPECT_EQ(addedNames(archive), (std::vector<std::string>{"data\\alias.txt", "data\\elsewhere\\o.txt",
                                                             "data\\keep.txt", "data\\sub\\inner.txt"}));
}

// A folder deep below a long absolute path is added on a system whose paths reach that far; the
// format's limit still holds for the entry names.
TEST_F(AddTest, TakesLongDiskPathsButNotLongEntryNames) {
    const std::u16string deep = std::u16string(150, u'd') + u"\\" + std::u16string(120, u'e');
    const std::u16string longName = u"x\\" + std::u16string(255, u'n');
    ASSERT_TRUE(writeFile(files, deep + u"\\short.txt"));
    ASSERT_TRUE(writeFile(files, deep + u"\\" + longName));
    const std::u16string chosen = files.file(deep);
    ASSERT_GT(chosen.size(), MAX_NAME_LENGTH);

    addDirectory(worker, archive, chosen);

    EXPECT_EQ(addedNames(archive), std::vector<std::string>{"data\\short.txt"});
    const std::vector<LeftOut> expected = {{u"data\\" + longName, Cause::NAME_TOO_LONG, 0}};
    EXPECT_EQ(leftOutItems(listener), expected);
    EXPECT_FALSE(platform::fitsDiskPath(std::u16string(5000, u'p')));
}
#endif

// A merge only reads its source: one the user may not write (the read-only attribute, another
// owner's file) merges all the same, where opening it for update refused it.
TEST_F(AddTest, MergesASourceItMayOnlyRead) {
    const auto sourcePath = TestArchive().add("data\\x.txt", "x").writeTo(files, u"source.grf");
    const fs::path native = nativePath(files, u"source.grf");
    fs::permissions(native, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    struct Restore {
        fs::path path;
        ~Restore() { fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write); }
    } restore{native};
    ItemSink sink;
    Outcome merged = Outcome(codeFailure(RESULT_OPEN_FAILED));
    const auto merge = [&] { merged = mergeArchive(archive, sourcePath, sink); };
#ifdef _WIN32
    merge();
#else
    if (!runUnprivileged(merge)) GTEST_SKIP() << "this system lets no test drop root's rights";
#endif
    EXPECT_TRUE(merged) << describe(merged);
    EXPECT_EQ(addedNames(archive), std::vector<std::string>{"data\\x.txt"});
    EXPECT_TRUE(sink.failures.empty());
}
