#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <filesystem>
#include <fstream>
#include <set>
#include <zlib.h>

#include "archive/model/archive.h"
#include "archive/ops/entry_data.h"
#include "archive/ops/extract.h"
#include "archive/ops/extract_batch.h"
#include "archive/base/progress_sink.h"
#include "archive/base/result_codes.h"
#include "platform/code_page.h"
#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"
#include "tests/support/archive_writer.h"
#include "tests/support/file_faults.h"
#include "tests/support/small_disk.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct RecordingSink : ProgressSink {
    void reportStatus(const char16_t* text) override { statuses.emplace_back(text); }
    void reportProgress(uint32_t bytes, bool commit) override { progress.emplace_back(bytes, commit); }
    void reportItemFailure(const FailureReason& reason) override { failures.push_back(reason); }
    std::vector<std::u16string> statuses;
    std::vector<std::pair<uint32_t, bool>> progress;
    std::vector<FailureReason> failures;
};

// One entry extracted below `target` through the batch: its failure, as the batch told it.
Outcome extractBelow(GrfEntry& entry, const std::u16string& target, bool keepDirs, bool useKoreanNames,
                     RecordingSink& sink) {
    const size_t before = sink.failures.size();
    extractEntries({&entry}, target, keepDirs, useKoreanNames, sink, 0);
    if (sink.failures.size() == before) return {};
    return Outcome(sink.failures.back());
}

// A zlib stream of stored blocks, so a test can pick the stream's exact length:
// 2 header bytes, 5 bytes per block, the data, 4 check bytes.
std::vector<uint8_t> storedStream(const std::vector<uint8_t>& data, size_t blocks) {
    std::vector<uint8_t> out = {0x78, 0x01};
    size_t at = 0;
    for (size_t b = 0; b < blocks; ++b) {
        const size_t length = b + 1 == blocks ? data.size() - at : data.size() / blocks;
        out.push_back(b + 1 == blocks ? 1 : 0);
        out.push_back(uint8_t(length));
        out.push_back(uint8_t(length >> 8));
        out.push_back(uint8_t(~length));
        out.push_back(uint8_t(~length >> 8));
        out.insert(out.end(), data.begin() + at, data.begin() + at + length);
        at += length;
    }
    const uint32_t check = adler32(1, data.data(), uInt(data.size()));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(check >> shift));
    return out;
}

// A stream of exactly `length` bytes (at least 6 + 5 × blocks) and the data it holds.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> streamOfLength(size_t length, size_t blocks) {
    const auto data = noiseData(length - 6 - 5 * blocks, uint32_t(length));
    auto stream = storedStream(data, blocks);
    EXPECT_EQ(stream.size(), length);
    return {data, stream};
}

// Through a wide path: on Windows a narrow one could not spell the Korean names.
std::vector<uint8_t> readFile(const TempDir& dir, std::u16string relative) {
    std::replace(relative.begin(), relative.end(), u'\\', u'/');
    std::ifstream in(fs::path(dir.native()) / fs::path(relative), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every file below `root`, as relative generic paths.
std::set<std::string> treeOf(const fs::path& root) {
    std::set<std::string> out;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        out.insert(fs::relative(item.path(), root).generic_string() + (item.is_directory() ? "/" : ""));
    }
    return out;
}

class Extract : public ::testing::Test {
protected:
    GrfArchive& open(const TestArchive& writer) {
        const auto path = writer.writeTo(dir, u"in.grf");
        EXPECT_TRUE(archive.open(path)) << describe(archive);
        return archive;
    }
    TempDir dir;
    GrfArchive archive;
    RecordingSink sink;
};

TEST_F(Extract, StreamLengthsAroundTheChunkComeBackWhole) {
    // Around the codec's chunk: a whole chunk is not the last, an empty finishing call follows.
    const struct { size_t length; size_t blocks; } cases[] = {{11, 1}, {65535, 1}, {65536, 2}, {65537, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const auto [data, stream] = streamOfLength(c.length, c.blocks);
        GrfArchive local;
        const auto path = TestArchive().add("data\\a.bin", data).stream(stream).writeTo(dir, u"chunk.grf");
        ASSERT_TRUE(local.open(path)) << describe(local);
        GrfEntry& entry = *local.storedEntries()[0];
        EXPECT_EQ(entry.compressedSize(), c.length);
        RecordingSink progress;
        ASSERT_TRUE(extractEntry(entry, dir.file(u"out.bin"), progress)) << describe(local);
        EXPECT_EQ(readFile(dir, u"out.bin"), data);
        // Within the entry, never going back, and the whole stream once at the end.
        ASSERT_FALSE(progress.progress.empty());
        EXPECT_EQ(progress.progress.back(), std::make_pair(uint32_t(c.length), true));
        for (size_t i = 0; i + 1 < progress.progress.size(); ++i) {
            EXPECT_FALSE(progress.progress[i].second);
            EXPECT_LE(progress.progress[i].first, progress.progress[i + 1].first);
        }
    }
}

TEST_F(Extract, EveryCodingComesBackToItsOriginalBytes) {
    const auto small = sampleData(1);
    const auto text = sampleData(70000, 3);
    const auto noise = noiseData(9000, 5);  // long enough for shuffled blocks in the mixed coding
    const struct { const char* what; TestArchive writer; std::vector<uint8_t> data; } cases[] = {
        {"plain, empty", TestArchive().add("data\\e.txt", ""), {}},
        {"plain, one byte", TestArchive().add("data\\a.txt", small), small},
        {"plain, large", TestArchive().add("data\\a.txt", text), text},
        {"mixed flag 3", TestArchive().add("data\\a.bmp", noise).flags(3), noise},
        {"header-only flag 5", TestArchive().add("data\\a.gat", noise).flags(5), noise},
        {"legacy mixed", TestArchive().legacy().add("data\\a.bmp", noise), noise},
        {"legacy header-only", TestArchive().legacy().add("data\\A.GND", text), text},
        {"legacy without a dot", TestArchive().legacy().add("data\\README", noise), noise},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GrfArchive local;
        ASSERT_TRUE(local.open(c.writer.writeTo(dir, u"coded.grf"))) << describe(local);
        RecordingSink progress;
        ASSERT_TRUE(extractEntry(*local.storedEntries()[0], dir.file(u"out.bin"), progress)) << describe(local);
        EXPECT_EQ(readFile(dir, u"out.bin"), c.data);
        ASSERT_FALSE(progress.progress.empty());
        EXPECT_EQ(progress.progress.back(), std::make_pair(local.storedEntries()[0]->compressedSize(), true));
    }
}

TEST_F(Extract, ShortStreamCorrectsTheSizeAndAHugeClaimDoesNotExhaustMemory) {
    const auto data = sampleData(5000);
    for (uint32_t claimed : {6000u, 0xFFFFFFF0u}) {
        SCOPED_TRACE(claimed);
        GrfArchive local;
        ASSERT_TRUE(local.open(TestArchive().add("data\\a.txt", data).originalSize(claimed).writeTo(dir, u"s.grf")));
        GrfEntry& entry = *local.storedEntries()[0];
        ASSERT_TRUE(extractEntry(entry, dir.file(u"out.txt"), sink)) << describe(local);
        EXPECT_EQ(readFile(dir, u"out.txt"), data);
        EXPECT_EQ(entry.originalSize(), 5000u);
    }
}

TEST_F(Extract, FailuresRecordTheirCodeAndLeaveNoFile) {
    const auto data = sampleData(3000);
    const auto stream = deflateBytes(data);
    auto spoiled = stream;
    for (size_t i = 10; i < 40; ++i) spoiled[i] ^= 0xA5;
    auto cut = stream;
    cut.resize(cut.size() / 2);
    const struct { const char* what; TestArchive writer; int expected; bool progressed; Cause cause; } cases[] = {
        {"inflates beyond originalSize", TestArchive().add("data\\a.txt", data).originalSize(2999), RESULT_BAD_DATA, true, Cause::DAMAGED_STREAM},
        {"damaged stream", TestArchive().add("data\\a.txt", data).stream(spoiled), RESULT_BAD_DATA, true, Cause::DAMAGED_STREAM},
        {"stream ends early", TestArchive().add("data\\a.txt", data).stream(cut), RESULT_BAD_DATA, true, Cause::DAMAGED_STREAM},
        {"compressedSize 0", TestArchive().legacy().add("data\\a.txt", data).compressedSize(0), RESULT_BAD_DATA, true, Cause::DAMAGED_STREAM},
        {"compressedSize beyond storedSize", TestArchive().add("data\\a.txt", data).storedSize(100), RESULT_BAD_DATA, false, Cause::DAMAGED_STREAM},
        {"data beyond the file", TestArchive().add("data\\a.txt", data).dataOffset(0x7FFFFFF0), RESULT_BAD_LENGTH, false, Cause::NONE},
        {"storedSize beyond the file", TestArchive().add("data\\a.txt", data).storedSize(0xFFFFFF00), RESULT_BAD_LENGTH, false, Cause::NONE},
        // The record holds 0xFFFFFFE4: adding the header's 46 bytes passes 32 bits.
        {"position wraps past 32 bits", TestArchive().add("data\\a.txt", data).dataOffset(10), RESULT_BAD_LENGTH, false, Cause::UNREACHABLE_POSITION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GrfArchive local;
        ASSERT_TRUE(local.open(c.writer.writeTo(dir, u"bad.grf"))) << describe(local);
        RecordingSink progress;
        EXPECT_FALSE(extractEntry(*local.storedEntries()[0], dir.file(u"out.txt"), progress));
        EXPECT_EQ(local.lastError.code, c.expected) << describe(local);
        EXPECT_EQ(local.lastError.cause, c.cause) << describe(local);
        EXPECT_FALSE(fs::exists(dir.native(u"out.txt")));
        if (c.progressed) {
            ASSERT_FALSE(progress.progress.empty());
            EXPECT_TRUE(progress.progress.back().second);
            EXPECT_LT(progress.progress.back().first, local.storedEntries()[0]->compressedSize() + 1);
        } else {
            EXPECT_TRUE(progress.progress.empty());
        }
        EXPECT_TRUE(local.file.isOpen());
    }
}

TEST_F(Extract, OnlyStoredEntriesAreExtracted) {
    open(TestArchive().add("data\\a.txt", "aaa"));
    GrfEntry& entry = *archive.storedEntries()[0];
    GrfEntry& pending = *archive.addFile("data\\b.txt", dir.file(u"b.txt"), 3);
    archive.markDeleted(entry);
    // Refused with a cause that names the entry: a user who picked the row learns why nothing came.
    const struct { GrfEntry* unstored; Cause cause; } cases[] = {
        {&pending, Cause::ENTRY_NOT_SAVED}, {&entry, Cause::ENTRY_DELETED}};
    for (const auto& c : cases) {
        const Outcome extracted = extractEntry(*c.unstored, dir.file(u"out.txt"), sink);
        EXPECT_FALSE(extracted);
        EXPECT_EQ(extracted.code(), RESULT_OPEN_FAILED);
        EXPECT_EQ(extracted.reason().cause, c.cause);
        EXPECT_EQ(extracted.reason().subject, c.unstored->nameAnsi());
        // Into a directory: not even the entry's directories appear.
        EXPECT_EQ(extractBelow(*c.unstored, dir.file(u"out"), true, false, sink).reason().cause, c.cause);
    }
    EXPECT_FALSE(fs::exists(dir.native(u"out")));
    // No data were read: each refusal only closes the entry's share of the bar.
    for (const auto& report : sink.progress) EXPECT_TRUE(report.second);
    EXPECT_FALSE(fs::exists(dir.native(u"out.txt")));
}

TEST_F(Extract, ReplacesAnExistingFileAndReportsATargetThatCannotBeOpened) {
    open(TestArchive().add("data\\a.txt", "new"));
    GrfEntry& entry = *archive.storedEntries()[0];
    {
        std::ofstream old(dir.native(u"out.txt"), std::ios::binary);
        old << "a much longer old content";
    }
    ASSERT_TRUE(extractEntry(entry, dir.file(u"out.txt"), sink)) << describe(archive);
    EXPECT_EQ(readFile(dir, u"out.txt"), toBytes("new"));

    // A folder where the file should go: the system's own words for it.
    fs::create_directory(dir.native(u"taken"));
    EXPECT_FALSE(extractEntry(entry, dir.file(u"taken"), sink));
    EXPECT_EQ(archive.lastError.code, RESULT_OPEN_FAILED) << describe(archive);
    EXPECT_EQ(archive.lastError.systemError, EISDIR) << describe(archive);
    EXPECT_EQ(causeText(archive.lastError), std::strerror(EISDIR));
    EXPECT_FALSE(extractEntry(entry, dir.file(u"missing\\out.txt"), sink));
    EXPECT_EQ(archive.lastError.code, RESULT_OPEN_FAILED) << describe(archive);

    // A file another program holds is refused as in use, and keeps what it had.
    platform::ExclusiveFile other;
    ASSERT_EQ(other.open(dir.file(u"out.txt"), platform::ExclusiveFile::Mode::READ), 0);
    EXPECT_FALSE(extractEntry(entry, dir.file(u"out.txt"), sink));
    EXPECT_EQ(archive.lastError.cause, Cause::IN_USE) << describe(archive);
    other.close();
    EXPECT_EQ(readFile(dir, u"out.txt"), toBytes("new"));
    EXPECT_EQ(treeOf(dir.native()), (std::set<std::string>{"in.grf", "out.txt", "taken/"}));
}

// A disk that fills while an entry is written: the entry fails with the system's cause, its
// partial file goes, an earlier file at its path stays whole, and a batch goes on with the next
// entry. A real small disk where the test may mount one, the write-fault hook everywhere (its
// first write fails as ENOSPC would).
TEST_F(Extract, FullDiskFailsTheEntryWithItsCauseAndKeepsTheEarlierFile) {
    const auto large = noiseData(200 * 1024, 41);
    // Stored and inflated bytes pass the streaming threshold: written in pieces while inflating.
    const std::vector<uint8_t> streamed(STREAM_ABOVE_BYTES + 4096, 'z');
    open(TestArchive().add("data\\large.bin", large).add("data\\ok.txt", "ok").add("data\\streamed.bin", streamed));
    GrfEntry& largeEntry = *archive.storedEntries()[0];
    GrfEntry& streamedEntry = *archive.storedEntries()[2];

    struct Disk {
        const char* what;
        bool real;
    };
    for (const Disk disk : {Disk{"write-fault hook", false}, Disk{"small disk", true}}) {
        SCOPED_TRACE(disk.what);
        const std::u16string target = dir.file(disk.real ? u"disk" : u"hooked");
        fs::create_directory(dir.native(disk.real ? u"disk" : u"hooked"));
        std::optional<SmallDisk> small;
        if (disk.real) {
            small.emplace(dir.native(u"disk"), 64 * 1024);
            if (!small->mounted()) {
                std::cout << "not on a small disk: " << small->refusal() << "\n";
                continue;
            }
        }
        int writes = 0;
        if (!disk.real) setWriteFaultHook([&writes] { return ++writes != 1; });

        // One entry alone, held whole and streamed: into a new file, which must not stay, and
        // over an earlier one, which must stay as it was.
        const std::u16string fresh = target + u"\\one.bin";
        const std::u16string earlier = target + u"\\keep.bin";
        std::ofstream(fs::path(dir.native(disk.real ? u"disk\\keep.bin" : u"hooked\\keep.bin")), std::ios::binary) << "earlier";
        for (GrfEntry* entry : {&largeEntry, &streamedEntry}) {
            for (const std::u16string& out : {fresh, earlier}) {
                writes = 0;
                EXPECT_FALSE(extractEntry(*entry, out, sink));
                EXPECT_EQ(archive.lastError.cause, Cause::DISK_FULL) << describe(archive);
                EXPECT_EQ(causeText(archive.lastError), std::strerror(ENOSPC));
            }
            EXPECT_FALSE(platform::fileExists(fresh));
            EXPECT_EQ(treeOf(dir.native(disk.real ? u"disk" : u"hooked")), std::set<std::string>{"keep.bin"});
            EXPECT_EQ(readFile(dir, disk.real ? u"disk\\keep.bin" : u"hooked\\keep.bin"), toBytes("earlier"));
        }

        // A batch: the large entry fails by name, the small one after it still arrives. One
        // thread, so that the small one is written after the large one is gone. An earlier
        // file of the large one stays.
        const std::u16string batch = disk.real ? u"disk\\batch" : u"hooked\\batch";
        fs::create_directories(dir.native(batch + u"\\data"));
        std::ofstream(fs::path(dir.native(batch + u"\\data\\large.bin")), std::ios::binary) << "earlier";
        writes = 0;
        sink.failures.clear();
        extractEntries({&largeEntry, archive.storedEntries()[1].get()}, target + u"\\batch", true, false, sink, 1);
        ASSERT_EQ(sink.failures.size(), 1u);
        EXPECT_EQ(sink.failures[0].subject, u"data\\large.bin");
        EXPECT_EQ(sink.failures[0].cause, Cause::DISK_FULL);
        EXPECT_EQ(readFile(dir, batch + u"\\data\\large.bin"), toBytes("earlier"));
        EXPECT_EQ(readFile(dir, batch + u"\\data\\ok.txt"), toBytes("ok"));
        EXPECT_EQ(treeOf(dir.native(batch)), (std::set<std::string>{"data/", "data/large.bin", "data/ok.txt"}));
        setWriteFaultHook({});
    }
}

// A directory that cannot be made is the cause of every entry below it, named with the system's
// error; the entries elsewhere still arrive. Once for each entry alone, once as a batch.
TEST_F(Extract, DirectoryThatCannotBeMadeIsTheCauseForTheEntriesBelowIt) {
    open(TestArchive().add("data\\a.txt", "a").add("top.txt", "top").add("data\\sub\\b.txt", "b"));
    struct Blocker {
        const char* what;
        bool readOnlyDisk;  // else a file stands where the folder "data" goes
        int expected;
    };
    for (const Blocker blocker : {Blocker{"a file in the way", false, EEXIST}, Blocker{"read-only disk", true, EROFS}}) {
        SCOPED_TRACE(blocker.what);
        for (const bool batch : {false, true}) {
            SCOPED_TRACE(batch ? "batch" : "one at a time");
            const std::u16string out = dir.file(batch ? u"batch" : u"alone") + (blocker.readOnlyDisk ? u"ro" : u"");
            fs::create_directories(platform::nativePathUtf8(out));
            std::optional<SmallDisk> disk;
            if (blocker.readOnlyDisk) {
                disk.emplace(platform::nativePathUtf8(out), 64 * 1024, true);
                if (!disk->mounted()) {
                    std::cout << "no read-only disk: " << disk->refusal() << "\n";
                    continue;
                }
            } else {
                std::ofstream(platform::nativePathUtf8(out + u"\\data")) << "in the way";
            }
            // On the read-only disk no file at all can be made, not even beside the folders.
            std::vector<GrfEntry*> selection;
            for (const auto& entry : archive.storedEntries()) {
                if (!blocker.readOnlyDisk || entry->name() != "top.txt") selection.push_back(entry.get());
            }
            sink.failures.clear();
            std::vector<FailureReason> failures;
            if (batch) {
                extractEntries(selection, out, true, false, sink, 2);
                failures = sink.failures;
            } else {
                for (GrfEntry* entry : selection) {
                    const Outcome extracted = extractBelow(*entry, out, true, false, sink);
                    if (!extracted) failures.push_back(extracted.reason());
                }
            }
            ASSERT_EQ(failures.size(), 2u);
            EXPECT_EQ(failures[0].subject, u"data\\a.txt");
            EXPECT_EQ(failures[1].subject, u"data\\sub\\b.txt");
            for (const FailureReason& failure : failures) {
                EXPECT_EQ(failure.cause, Cause::DIRECTORY_NOT_CREATED) << describe(failure);
                EXPECT_EQ(failure.systemError, blocker.expected) << describe(failure);
                EXPECT_EQ(failure.directory, out + u"\\data");
                EXPECT_EQ(causeText(failure), "cannot create directory " + platform::nativePathUtf8(out + u"\\data") +
                                                  ": " + std::strerror(blocker.expected));
            }
            if (!blocker.readOnlyDisk) {
                EXPECT_EQ(readFile(dir, out.substr(dir.path().size() + 1) + u"\\top.txt"), toBytes("top"));
            }
        }
    }
}

TEST_F(Extract, IntoDirectoryWithAndWithoutItsDirectories) {
    open(TestArchive()
             .add("data\\texture\\a.bmp", "first")
             .add("data\\sprite\\a.bmp", "second")
             .add("top.txt", "top"));
    const auto target = dir.file(u"out");
    for (const auto& entry : archive.storedEntries()) (void)extractBelow(*entry, target, true, false, sink);
    EXPECT_EQ(readFile(dir, u"out\\data\\texture\\a.bmp"), toBytes("first"));
    EXPECT_EQ(readFile(dir, u"out\\data\\sprite\\a.bmp"), toBytes("second"));
    EXPECT_EQ(readFile(dir, u"out\\top.txt"), toBytes("top"));
    // The status names the whole entry, before its directories are dropped.
    EXPECT_EQ(sink.statuses, (std::vector<std::u16string>{u"data\\texture\\a.bmp", u"data\\sprite\\a.bmp", u"top.txt"}));

    // Flat: the later of two equal file names wins; a trailing backslash gets no second one.
    for (const auto& entry : archive.storedEntries()) (void)extractBelow(*entry, dir.file(u"flat\\"), false, false, sink);
    EXPECT_EQ(treeOf(dir.native(u"flat")), (std::set<std::string>{"a.bmp", "top.txt"}));
    EXPECT_EQ(readFile(dir, u"flat\\a.bmp"), toBytes("second"));
}

TEST_F(Extract, NameFormChoosesFileAndDirectoryNames) {
    ASSERT_TRUE(platform::setAnsiCodePage(1252));
    // "data\몬스터\한.txt" in code page 949.
    open(TestArchive().add("data\\\xB8\xF3\xBD\xBA\xC5\xCD\\\xC7\xD1.txt", "k"));
    GrfEntry& entry = *archive.storedEntries()[0];
    (void)extractBelow(entry, dir.file(u"korean"), true, true, sink);
    (void)extractBelow(entry, dir.file(u"ansi"), true, false, sink);
    EXPECT_EQ(readFile(dir, u"korean\\data\\몬스터\\한.txt"), toBytes("k"));
    EXPECT_EQ(readFile(dir, entry.nameAnsi().size() ? u"ansi\\" + entry.nameAnsi() : u"none"), toBytes("k"));
    EXPECT_EQ(entry.nameAnsi(), u"data\\\u00B8\u00F3\u00BD\u00BA\u00C5\u00CD\\\u00C7\u00D1.txt");
}

TEST_F(Extract, NamesThatWouldLeaveTheTargetAreRefused) {
    const char* const hostile[] = {
        "..\\evil.txt", "data\\..\\..\\evil.txt", "\\evil.txt", "/evil.txt", "data/../../evil.txt",
        "data\\\\evil.txt", "data\\", "", ".",
        "data\\...\\evil.txt", "data\\.. \\evil.txt", "data\\.\\evil.txt",
        "data\\con.txt", "data\\NUL", "data\\Com1.wav", "lpt9\\a.txt", "data\\aux.tar.gz", "data\\con .txt",
    };
    TestArchive writer;
    for (const char* name : hostile) writer.add(name, "evil");
    writer.add("data\\good.txt", "good");
    open(writer);

    const auto target = dir.file(u"out\\deep");
    for (bool keepDirs : {true, false}) {
        for (const auto& entry : archive.storedEntries()) {
            SCOPED_TRACE(entry->name());
            archive.lastError.code = 0;
            (void)extractBelow(*entry, target, keepDirs, false, sink);
            if (entry->name() != "data\\good.txt") {
                EXPECT_EQ(archive.lastError.code, RESULT_OPEN_FAILED) << describe(archive);
            }
        }
    }
    // The whole work directory holds the archive, the target and the one good file, nothing else.
    EXPECT_EQ(treeOf(dir.native()), (std::set<std::string>{"in.grf", "out/", "out/deep/", "out/deep/data/",
                                                           "out/deep/data/good.txt", "out/deep/good.txt"}));
    EXPECT_FALSE(fs::exists(fs::path(dir.native()).parent_path() / "evil.txt"));
}

// A ':' names a drive or a stream on Windows, which refuses such names with that cause; elsewhere
// it is an ordinary character and the names extract below the target like any other.
TEST_F(Extract, ColonIsADriveOrStreamOnlyWhereTheSystemSaysSo) {
    const char* const names[] = {"C:\\evil.txt", "C:evil.txt", "data\\a.txt:hidden", "man3\\Dpkg::BuildEnv.3perl.gz"};
    TestArchive writer;
    for (const char* name : names) writer.add(name, name);
    open(writer);
    std::vector<GrfEntry*> all;
    for (const auto& entry : archive.storedEntries()) all.push_back(entry.get());
    extractEntries(all, dir.file(u"out"), true, false, sink, 2);
#ifdef _WIN32
    ASSERT_EQ(sink.failures.size(), std::size(names));
    for (const FailureReason& failure : sink.failures) {
        EXPECT_EQ(failure.cause, Cause::DRIVE_OR_STREAM_NAME) << describe(failure);
    }
    EXPECT_EQ(causeText(sink.failures[0]), "the name holds ':', which names a drive or a data stream on this system");
    EXPECT_EQ(treeOf(dir.native()), std::set<std::string>{"in.grf"});
#else
    EXPECT_TRUE(sink.failures.empty()) << describe(sink.failures[0]);
    for (const char* name : names) {
        const std::string shown(name);
        EXPECT_EQ(readFile(dir, u"out\\" + std::u16string(shown.begin(), shown.end())), toBytes(name));
    }
#endif
}

// Entry names hold up to 259 bytes on every system. Windows refuses a joined path past its 259
// units before anything is made; elsewhere the system's own limits apply and speak for themselves.
TEST_F(Extract, LongNamesMeetTheSystemsOwnPathLimit) {
    const std::u16string target = dir.file(u"o");
#ifdef _WIN32
    // The joined path: target, a backslash, the name.
    const size_t room = MAX_NAME_LENGTH - target.size() - 1;
    ASSERT_GT(room, 10u);
    const std::string fits = "d\\" + std::string(room - 2, 'f');
    const std::string tooLong = fits + "g";
    open(TestArchive().add(fits, "fits").add(tooLong, "long"));
    const Outcome refused = extractBelow(*archive.storedEntries()[1], target, true, false, sink);
    EXPECT_EQ(refused.code(), RESULT_OPEN_FAILED) << describe(refused);
    EXPECT_EQ(refused.reason().cause, Cause::NAME_TOO_LONG) << describe(refused);
    const Outcome extracted = extractBelow(*archive.storedEntries()[0], target, true, false, sink);
    EXPECT_TRUE(extracted) << describe(extracted);
    EXPECT_EQ(treeOf(dir.native(u"o")), (std::set<std::string>{"d/", "d/" + std::string(room - 2, 'f')}));
#else
    // The longest names the format holds, far past 259 characters once joined to the target.
    const std::string longest = std::string(120, 'a') + "\\" + std::string(138, 'b');
    const std::string shorter = std::string(120, 'a') + "\\" + std::string(137, 'c');
    // One name part longer than the file system takes: its own "File name too long".
    const std::string partTooLong = "d\\" + std::string(256, 'x');
    ASSERT_EQ(longest.size(), MAX_NAME_LENGTH);
    open(TestArchive().add(longest, "259").add(shorter, "258").add(partTooLong, "part"));
    ASSERT_GT(target.size() + 1 + longest.size(), MAX_NAME_LENGTH);
    for (const auto& entry : archive.storedEntries()) {
        const Outcome extracted = extractBelow(*entry, target, true, false, sink);
        if (entry->name() != partTooLong) {
            EXPECT_TRUE(extracted) << describe(extracted);
        }
    }
    EXPECT_EQ(archive.lastError.systemError, ENAMETOOLONG) << describe(archive.lastError);
    EXPECT_EQ(causeText(archive.lastError), std::strerror(ENAMETOOLONG));
    const std::u16string folder = u"o\\" + std::u16string(120, u'a') + u"\\";
    EXPECT_EQ(readFile(dir, folder + std::u16string(138, u'b')), toBytes("259"));
    EXPECT_EQ(readFile(dir, folder + std::u16string(137, u'c')), toBytes("258"));
#endif
}

TEST(SafeEntryPath, AcceptsOrdinaryNames) {
    for (const char16_t* name : {u"data\\a.txt", u"a", u"data\\.hidden", u"data\\a..b\\c.txt", u"데이터\\파일.bmp",
                                 u"data\\console.txt", u"data\\com10.txt", u"data\\com.txt", u"nul_x\\auxiliary"}) {
        EXPECT_TRUE(isSafeEntryPath(name));
    }
}

}  // namespace
