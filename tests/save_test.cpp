#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/ops/merge.h"
#include "archive/model/archive.h"
#include "archive/format/header.h"
#include "archive/format/legacy_decode.h"
#include "archive/base/progress_sink.h"
#include "archive/ops/repack.h"
#include "archive/base/result_codes.h"
#include "archive/ops/entry_data.h"
#include "archive/ops/free_space.h"
#include "archive/ops/save.h"
#include "platform/exclusive_file.h"
#include "tests/support/archive_writer.h"
#include "tests/support/file_faults.h"
#include "tests/support/small_disk.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Counts what a save reports; the real sink is the task worker.
struct CountingSink : ProgressSink {
    std::vector<std::u16string> statuses;
    uint64_t committed = 0;
    void reportStatus(const char16_t* text) override { statuses.emplace_back(text); }
    void reportProgress(uint32_t bytes, bool commit) override {
        if (commit) committed += bytes;
    }
};

void writeDiskFile(const TempDir& dir, const std::u16string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(fs::path(dir.native(name)), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A pending entry drawn from a disk file, as adding a directory makes one.
GrfEntry* addDiskFile(GrfArchive& archive, const std::string& name, const TempDir& dir, const std::u16string& file,
                      uint32_t size) {
    return archive.addFile(name, dir.file(file), size);
}

GrfEntry* addDiskFile(GrfArchive& archive, const std::string& name, const TempDir& dir,
                      const std::vector<uint8_t>& bytes) {
    const std::u16string file = u"src" + std::u16string(1, char16_t(u'a' + archive.pendingEntries().size()));
    writeDiskFile(dir, file, bytes);
    return addDiskFile(archive, name, dir, file, uint32_t(bytes.size()));
}

GrfHeader headerOf(const std::vector<uint8_t>& file) {
    if (file.size() < HEADER_SIZE) {
        ADD_FAILURE() << "no header in " << file.size() << " bytes";
        return {};
    }
    return GrfHeader::parse(std::span<const uint8_t, HEADER_SIZE>(file.data(), HEADER_SIZE));
}

uint64_t tablePosition(const std::vector<uint8_t>& file) {
    return uint64_t(headerOf(file).tableOffset) + HEADER_SIZE;
}

// An entry's data as the file holds them, decoded and inflated: independent of extraction.
std::vector<uint8_t> contentOf(const std::vector<uint8_t>& file, const GrfEntry& entry) {
    if (uint64_t(entry.offset()) + entry.storedSize() > file.size()) {
        ADD_FAILURE() << entry.name() << " reaches past the end of the file";
        return {};
    }
    std::vector<uint8_t> stored(file.begin() + entry.offset(), file.begin() + entry.offset() + entry.storedSize());
    if (entry.coding() >= 0) {
        decodeData(stored.data(), stored.size(), entry.coding());
    }
    stored.resize(entry.compressedSize());
    return inflateBytes(stored, entry.originalSize());
}

struct Opened {
    std::unique_ptr<GrfArchive> archive = std::make_unique<GrfArchive>();
    std::vector<uint8_t> bytes;
};

// Through the archive's own file: on Windows nobody else may open it meanwhile.
std::vector<uint8_t> bytesOf(GrfArchive& archive) {
    std::vector<uint8_t> bytes(archive.file.isOpen() ? archive.file.size() : 0);
    if (!archive.file.seek(0) || archive.file.read(bytes.data(), bytes.size()) != bytes.size()) {
        ADD_FAILURE() << "cannot read the archive back";
    }
    return bytes;
}

Opened reopen(const TempDir& dir, const std::u16string& name = u"test.grf") {
    Opened opened;
    EXPECT_TRUE(opened.archive->open(dir.file(name))) << describe(*opened.archive);
    opened.bytes = bytesOf(*opened.archive);
    return opened;
}

GrfEntry* stored(GrfArchive& archive, const std::string& name) {
    GrfEntry* entry = archive.findStored(name);
    EXPECT_NE(entry, nullptr) << name;
    return entry;
}

}  // namespace

TEST(FreeSpans, ComeOnlyFromTheUnionOfOccupiedRanges) {
    const struct {
        const char* what;
        std::vector<OccupiedRange> occupied;
        uint64_t fileEnd;
        std::vector<std::pair<uint32_t, uint32_t>> spans;
    } cases[] = {
        {"back to back up to the end", {{46, 100}, {100, 180}}, 180, {}},
        {"a gap, and a tail after the last entry", {{46, 60}, {80, 100}}, 130, {{60, 20}, {100, 30}}},
        {"the first entry after the header", {{70, 100}}, 100, {{46, 24}}},
        {"overlapping entries", {{46, 100}, {80, 150}}, 200, {{150, 50}}},
        {"an entry nested in another", {{46, 300}, {100, 120}}, 300, {}},
        {"coinciding entries", {{100, 150}, {100, 150}}, 150, {{46, 54}}},
        {"an entry reaching past the end", {{46, 60}, {90, 500}}, 200, {{60, 30}}},
        {"an entry starting past the end", {{46, 60}, {300, 310}}, 200, {{60, 140}}},
        {"unsorted ranges", {{120, 130}, {46, 50}, {60, 70}}, 130, {{50, 10}, {70, 50}}},
        {"nothing stored in a bare header", {}, 46, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FreeList list = freeSpansAround(c.occupied, c.fileEnd);
        std::vector<std::pair<uint32_t, uint32_t>> spans;
        for (const FreeSpan& span : list) spans.emplace_back(span.start, span.length);
        EXPECT_EQ(spans, c.spans);
    }
}

TEST(FreeSpans, FirstFitPassesOverSmallSpansAndDropsFilledOnes) {
    FreeList list{{50, 10}, {100, 30}, {200, 5}};
    EXPECT_EQ(takeFirstFit(list, 20), 100u);  // passes over the 10-byte span
    EXPECT_EQ(takeFirstFit(list, 10), 50u);   // exact fit: that span leaves the list
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front().start, 120u);
    EXPECT_EQ(list.front().length, 10u);
    EXPECT_EQ(takeFirstFit(list, 40), std::nullopt);
    EXPECT_EQ(takeFirstFit(list, 5), 120u);  // packed from the start of the span
    EXPECT_EQ(list.front().start, 125u);
}

TEST(Save, FreshArchiveFillsFromTheHeaderBackToBack) {
    TempDir dir;
    const auto small = sampleData(1000, 1);
    const auto large = sampleData(3 * 65536 + 17, 2);  // several chunks and a tail
    const auto empty = std::vector<uint8_t>{};
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
        addDiskFile(archive, "data\\small.txt", dir, small);
        addDiskFile(archive, "data\\large.txt", dir, large);
        addDiskFile(archive, "data\\empty.txt", dir, empty);
        CountingSink sink;
        ASSERT_TRUE(saveArchive(archive, 6, false, sink)) << describe(archive);
        EXPECT_EQ(sink.statuses, (std::vector<std::u16string>{u"data\\small.txt", u"data\\large.txt", u"data\\empty.txt"}));
        EXPECT_EQ(sink.committed, small.size() + large.size());
    }
    auto opened = reopen(dir);
    GrfArchive& archive = *opened.archive;
    ASSERT_EQ(archive.storedEntries().size(), 3u);
    const GrfEntry* a = stored(archive, "data\\small.txt");
    const GrfEntry* b = stored(archive, "data\\large.txt");
    const GrfEntry* c = stored(archive, "data\\empty.txt");
    EXPECT_EQ(a->offset(), 46u);
    EXPECT_EQ(b->offset(), a->offset() + a->storedSize());
    EXPECT_EQ(c->offset(), b->offset() + b->storedSize());
    EXPECT_EQ(tablePosition(opened.bytes), c->offset() + c->storedSize());
    for (const GrfEntry* entry : {a, b, c}) {
        EXPECT_EQ(entry->flags(), 1);
        EXPECT_EQ(entry->storedSize(), entry->compressedSize());
    }
    EXPECT_EQ(contentOf(opened.bytes, *a), small);
    EXPECT_EQ(contentOf(opened.bytes, *b), large);
    EXPECT_EQ(contentOf(opened.bytes, *c), empty);
    EXPECT_EQ(headerOf(opened.bytes).version, 0x200u);
    EXPECT_EQ(headerOf(opened.bytes).rawCount, 3u + 7);
}

// The table the header names is never written over: new data go after it, and its space is
// an ordinary gap once the next table has replaced it.
TEST(Save, PreviousTableBecomesAGapOnlyAfterTheNextSave) {
    TempDir dir;
    TestArchive().add("data\\a.txt", sampleData(500, 3)).add("data\\b.txt", sampleData(800, 4)).writeTo(dir);
    uint64_t firstTable = 0;
    uint64_t firstEnd = 0;
    {
        auto opened = reopen(dir);
        firstTable = tablePosition(opened.bytes);
        firstEnd = opened.bytes.size();
        GrfArchive& archive = *opened.archive;
        const GrfEntry* b = stored(archive, "data\\b.txt");
        ASSERT_EQ(firstTable, b->offset() + b->storedSize()) << "the writer lays entries back to back";
        addDiskFile(archive, "data\\tiny.txt", dir, toBytes("x"));
        CountingSink sink;
        ASSERT_TRUE(saveArchive(archive, 6, false, sink)) << describe(archive);
    }
    {
        auto opened = reopen(dir);
        GrfArchive& archive = *opened.archive;
        const GrfEntry* tiny = stored(archive, "data\\tiny.txt");
        EXPECT_EQ(tiny->offset(), firstEnd);
        EXPECT_EQ(tablePosition(opened.bytes), firstEnd + tiny->storedSize());
        addDiskFile(archive, "data\\tiny2.txt", dir, toBytes("y"));
        CountingSink sink;
        ASSERT_TRUE(saveArchive(archive, 6, false, sink)) << describe(archive);
    }
    auto opened = reopen(dir);
    const GrfEntry* tiny2 = stored(*opened.archive, "data\\tiny2.txt");
    EXPECT_EQ(tiny2->offset(), firstTable);
    EXPECT_EQ(contentOf(opened.bytes, *tiny2), toBytes("y"));
    EXPECT_EQ(opened.archive->storedEntries().size(), 4u);
}

TEST(Save, DeletedEntryLeavesTheTableAndItsSpaceIsReusedAfterReopen) {
    TempDir dir;
    const auto a = sampleData(300, 5);
    const auto c = sampleData(400, 7);
    TestArchive().add("data\\a.txt", a).add("data\\b.bin", noiseData(2000, 6)).add("data\\c.txt", c).writeTo(dir);
    uint32_t freedOffset = 0;
    uint32_t freedSize = 0;
    {
        auto opened = reopen(dir);
        GrfEntry* b = stored(*opened.archive, "data\\b.bin");
        freedOffset = b->offset();
        freedSize = b->storedSize();
        opened.archive->markDeleted(*b);
        CountingSink sink;
        ASSERT_TRUE(saveArchive(*opened.archive, 6, false, sink));
    }
    {
        auto opened = reopen(dir);
        GrfArchive& archive = *opened.archive;
        ASSERT_EQ(archive.storedEntries().size(), 2u);
        EXPECT_EQ(archive.findStored("data\\b.bin"), nullptr);
        EXPECT_EQ(contentOf(opened.bytes, *stored(archive, "data\\a.txt")), a);
        EXPECT_EQ(contentOf(opened.bytes, *stored(archive, "data\\c.txt")), c);
        // Two entries: the first fills the deleted entry's space, the second the rest of it.
        addDiskFile(archive, "data\\new1.txt", dir, sampleData(1000, 8));
        addDiskFile(archive, "data\\new2.txt", dir, toBytes("z"));
        CountingSink sink;
        ASSERT_TRUE(saveArchive(archive, 6, false, sink));
    }
    auto opened = reopen(dir);
    const GrfEntry* new1 = stored(*opened.archive, "data\\new1.txt");
    const GrfEntry* new2 = stored(*opened.archive, "data\\new2.txt");
    ASSERT_LE(new1->storedSize() + new2->storedSize(), freedSize) << "sample sizes no longer fit the test";
    EXPECT_EQ(new1->offset(), freedOffset);
    EXPECT_EQ(new2->offset(), freedOffset + new1->storedSize());
    EXPECT_EQ(contentOf(opened.bytes, *new1), sampleData(1000, 8));
}

TEST(Save, AddedNamesakeReplacesTheStoredEntry) {
    TempDir dir;
    TestArchive().add("data\\a.txt", "old contents").add("data\\b.txt", "kept").writeTo(dir);
    TestArchive().add("data\\A.TXT", "new contents").writeTo(dir, u"other.grf");
    uint32_t oldOffset = 0;
    {
        auto opened = reopen(dir);
        oldOffset = stored(*opened.archive, "data\\a.txt")->offset();
        CountingSink sink;
        ASSERT_TRUE(mergeArchive(*opened.archive, dir.file(u"other.grf"), sink));
        ASSERT_TRUE(saveArchive(*opened.archive, 6, false, sink)) << describe(*opened.archive);
    }
    auto opened = reopen(dir);
    GrfArchive& archive = *opened.archive;
    ASSERT_EQ(archive.storedEntries().size(), 2u);
    const GrfEntry* replaced = stored(archive, "data\\a.txt");
    EXPECT_EQ(replaced->name(), "data\\A.TXT");
    EXPECT_NE(replaced->offset(), oldOffset);
    EXPECT_EQ(contentOf(opened.bytes, *replaced), toBytes("new contents"));
}

TEST(Save, RenamedEntryKeepsItsPositionAndSizes) {
    TempDir dir;
    TestArchive().add("data\\a.txt", sampleData(700, 9)).writeTo(dir);
    uint32_t offset = 0, compressedSize = 0, originalSize = 0;
    {
        auto opened = reopen(dir);
        GrfEntry* entry = stored(*opened.archive, "data\\a.txt");
        offset = entry->offset();
        compressedSize = entry->compressedSize();
        originalSize = entry->originalSize();
        ASSERT_EQ(entry->rename("data\\renamed.txt"), RenameResult::RENAMED);
        CountingSink sink;
        ASSERT_TRUE(saveArchive(*opened.archive, 6, false, sink));
    }
    auto opened = reopen(dir);
    ASSERT_EQ(opened.archive->storedEntries().size(), 1u);
    const GrfEntry* entry = stored(*opened.archive, "data\\renamed.txt");
    EXPECT_EQ(entry->offset(), offset);
    EXPECT_EQ(entry->compressedSize(), compressedSize);
    EXPECT_EQ(entry->originalSize(), originalSize);
}

TEST(Save, LegacyArchiveBecomesCurrentWithItsDataStillCoded) {
    TempDir dir;
    const auto ground = sampleData(900, 10);
    const auto picture = sampleData(1500, 11);
    const auto text = sampleData(200, 12);
    TestArchive().legacy(0x103).add("data\\map.gat", ground).add("data\\tex.bmp", picture).add("data\\read.txt", text)
        .writeTo(dir);
    const auto original = readWholeFile(dir.native(u"test.grf"));
    std::vector<std::pair<uint32_t, uint32_t>> dataSpans;
    {
        auto opened = reopen(dir);
        ASSERT_EQ(opened.archive->version(), 1u);
        for (const auto& entry : opened.archive->storedEntries()) dataSpans.emplace_back(entry->offset(), entry->storedSize());
        CountingSink sink;
        ASSERT_TRUE(saveArchive(*opened.archive, 6, false, sink)) << describe(*opened.archive);
    }
    auto opened = reopen(dir);
    GrfArchive& archive = *opened.archive;
    EXPECT_EQ(headerOf(opened.bytes).version, 0x200u);
    EXPECT_EQ(archive.version(), 2u);
    for (const auto& [offset, size] : dataSpans) {
        EXPECT_TRUE(std::equal(original.begin() + offset, original.begin() + offset + size, opened.bytes.begin() + offset))
            << "data at " << offset << " moved or changed";
    }
    const GrfEntry* gat = stored(archive, "data\\map.gat");
    const GrfEntry* bmp = stored(archive, "data\\tex.bmp");
    const GrfEntry* txt = stored(archive, "data\\read.txt");
    EXPECT_EQ(gat->flags(), 5);
    EXPECT_EQ(gat->coding(), 0);
    EXPECT_EQ(bmp->flags(), 3);
    EXPECT_EQ(bmp->coding(), digitCount(bmp->compressedSize()));
    EXPECT_EQ(txt->flags(), 3);
    EXPECT_EQ(contentOf(opened.bytes, *gat), ground);
    EXPECT_EQ(contentOf(opened.bytes, *bmp), picture);
    EXPECT_EQ(contentOf(opened.bytes, *txt), text);
}

TEST(Save, LevelZeroStoresBlocksSlightlyLargerThanTheData) {
    TempDir dir;
    const auto data = sampleData(2 * 65536 + 5, 13);
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
        addDiskFile(archive, "data\\stored.txt", dir, data);
        CountingSink sink;
        ASSERT_TRUE(saveArchive(archive, 0, false, sink));
    }
    auto opened = reopen(dir);
    const GrfEntry* entry = stored(*opened.archive, "data\\stored.txt");
    EXPECT_GT(entry->compressedSize(), data.size());
    EXPECT_LT(entry->compressedSize(), data.size() + 64);
    EXPECT_EQ(contentOf(opened.bytes, *entry), data);
}

// Data that announces its own compression by its first bytes goes in stored blocks at any level,
// even where deflate could have shrunk what follows; the rest is compressed as asked.
TEST(Save, PackedDataGoesInStoredBlocksAtAnyLevel) {
    const struct { const char* what; std::string head; bool stored; } cases[] = {
        {"gzip", std::string("\x1f\x8b\x08\x00", 4), true},
        {"PNG", std::string("\x89PNG\r\n\x1a\n", 8), true},
        {"JPEG", std::string("\xff\xd8\xff\xe0", 4), true},
        {"Ogg", "OggS", true},
        {"plain text", "text", false},
        {"a gzip magic cut short", std::string("\x1f", 1), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::vector<uint8_t> data(c.head.begin(), c.head.end());
        for (int i = 0; i < 3000; ++i) data.push_back(uint8_t("repeats "[i % 8]));
        {
            GrfArchive archive;
            ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
            addDiskFile(archive, "data\\x.bin", dir, data);
            CountingSink sink;
            ASSERT_TRUE(saveArchive(archive, 9, false, sink)) << describe(archive);
        }
        auto opened = reopen(dir);
        const GrfEntry* entry = stored(*opened.archive, "data\\x.bin");
        ASSERT_NE(entry, nullptr);
        if (c.stored) {
            EXPECT_GT(entry->compressedSize(), data.size());
            EXPECT_LT(entry->compressedSize(), data.size() + 64);
        } else {
            EXPECT_LT(entry->compressedSize(), data.size() / 4);
        }
        EXPECT_EQ(contentOf(opened.bytes, *entry), data);
    }
}

// An input buffer is only ever compressed as far as it was filled.
TEST(Save, TakesSourcesAsTheyAreAtSaveTime) {
    TempDir dir;
    const auto real = sampleData(5000, 14);
    // The source entry claims more than its stream yields.
    TestArchive().add("data\\short.txt", real).originalSize(9000).writeTo(dir, u"other.grf");
    const auto grown = sampleData(3000, 15);
    const auto shrunk = sampleData(10, 16);
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
        writeDiskFile(dir, u"grows", sampleData(100, 15));
        addDiskFile(archive, "data\\grows.txt", dir, u"grows", 100);
        writeDiskFile(dir, u"shrinks", sampleData(4000, 16));
        addDiskFile(archive, "data\\shrinks.txt", dir, u"shrinks", 4000);
        // Removed after it was added: neither read nor written.
        archive.markDeleted(*addDiskFile(archive, "data\\gone.txt", dir, u"missing", 50));
        CountingSink sink;
        ASSERT_TRUE(mergeArchive(archive, dir.file(u"other.grf"), sink));
        writeDiskFile(dir, u"grows", grown);
        writeDiskFile(dir, u"shrinks", shrunk);
        ASSERT_TRUE(saveArchive(archive, 6, false, sink)) << describe(archive);
        EXPECT_EQ(sink.statuses.size(), 3u);
    }
    auto opened = reopen(dir);
    GrfArchive& archive = *opened.archive;
    ASSERT_EQ(archive.storedEntries().size(), 3u);
    EXPECT_EQ(archive.findStored("data\\gone.txt"), nullptr);
    const struct { const char* name; const std::vector<uint8_t>& data; } cases[] = {
        {"data\\grows.txt", grown}, {"data\\shrinks.txt", shrunk}, {"data\\short.txt", real}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const GrfEntry* entry = stored(archive, c.name);
        EXPECT_EQ(entry->originalSize(), c.data.size());
        EXPECT_EQ(contentOf(opened.bytes, *entry), c.data);
    }
    // Nothing but the three entries and the table: the deleted one took no space.
    uint64_t used = HEADER_SIZE;
    for (const auto& entry : archive.storedEntries()) used += entry->storedSize();
    EXPECT_EQ(tablePosition(opened.bytes), used);
}

// The save stops at the failing entry and the file keeps naming its previous table.
TEST(Save, FailedEntryLeavesThePreviousContents) {
    const auto damagedStream = [] {
        auto stream = deflateBytes(sampleData(800, 17));
        stream[stream.size() / 2] ^= 0x55;
        stream[stream.size() / 2 + 1] ^= 0xAA;
        return stream;
    }();
    const struct {
        const char* what;
        TestArchive source;
        bool missingFile;
        int expected;
    } cases[] = {
        {"source file missing", TestArchive(), true, RESULT_OPEN_FAILED},
        {"source stream damaged", TestArchive().add("data\\bad.txt", sampleData(800, 17)).stream(damagedStream), false,
         RESULT_BAD_DATA},
        {"source data past the end of its file", TestArchive().add("data\\bad.txt", "abc").storedSize(1 << 20), false,
         RESULT_BAD_LENGTH},
        {"source claims an impossible size", TestArchive().add("data\\bad.txt", "abc").originalSize(0xFFFFFFF0u), false,
         RESULT_BAD_DATA},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        TestArchive().add("data\\kept.txt", sampleData(600, 18)).writeTo(dir);
        const auto before = readWholeFile(dir.native(u"test.grf"));
        {
            auto opened = reopen(dir);
            GrfArchive& archive = *opened.archive;
            addDiskFile(archive, "data\\written.txt", dir, sampleData(400, 19));
            if (c.missingFile) {
                addDiskFile(archive, "data\\bad.txt", dir, u"missing", 10);
            } else {
                // Imported one by one: a merge would leave out data past the end itself.
                c.source.writeTo(dir, u"other.grf");
                const auto other = std::make_shared<GrfArchive>();
                ASSERT_TRUE(other->open(dir.file(u"other.grf"))) << describe(*other);
                for (const auto& entry : other->storedEntries()) archive.importEntry(shareEntry(other, entry.get()));
            }
            CountingSink sink;
            EXPECT_FALSE(saveArchive(archive, 6, false, sink));
            EXPECT_EQ(archive.lastError.code, c.expected) << describe(archive);
        }
        const auto after = readWholeFile(dir.native(u"test.grf"));
        EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << "bytes the old table names changed";
        auto opened = reopen(dir);
        ASSERT_EQ(opened.archive->storedEntries().size(), 1u);
        EXPECT_EQ(contentOf(opened.bytes, *stored(*opened.archive, "data\\kept.txt")), sampleData(600, 18));
    }
}

namespace {

void expectNoOtherFiles(const TempDir& dir, const std::string& keep) {
    for (const auto& item : fs::directory_iterator(fs::path(dir.native()))) {
        const std::string name = item.path().filename().string();
        EXPECT_TRUE(name == keep || name.rfind("src", 0) == 0 || name == "other.grf") << "left behind: " << name;
    }
}

struct NoTotal {
    uint64_t seen = UINT64_MAX;
    void operator()(uint64_t total) { seen = total; }
};

}  // namespace

TEST(Repack, WritesEveryStoredEntryBackToBackInTableOrder) {
    TempDir dir;
    const auto ground = sampleData(3000, 20);
    const auto picture = sampleData(70000, 21);
    const auto dropped = sampleData(100, 22);
    // Legacy coding, and a gap left by an entry deleted in an earlier save.
    TestArchive()
        .legacy(0x103)
        .add("data\\z.gat", ground)
        .add("data\\gap.bin", noiseData(5000, 24))
        .add("data\\a.bmp", picture)
        .add("data\\m.txt", dropped)
        .writeTo(dir);
    {
        auto opened = reopen(dir);
        opened.archive->markDeleted(*stored(*opened.archive, "data\\gap.bin"));
        CountingSink sink;
        ASSERT_TRUE(saveArchive(*opened.archive, 6, false, sink));
    }
    auto old = std::make_unique<GrfArchive>();
    ASSERT_TRUE(old->open(dir.file(u"test.grf")));
    ASSERT_EQ(old->storedEntries().size(), 3u);
    old->markDeleted(*old->findStored("data\\m.txt"));  // a mark dropped with the other changes
    addDiskFile(*old, "data\\pending.txt", dir, toBytes("unsaved"));
    std::vector<std::string> tableOrder;
    for (const auto& entry : old->storedEntries()) tableOrder.push_back(entry->name());

    CountingSink sink;
    uint64_t total = 0;
    RecompressResult result = recompressArchive(std::move(old), 9, false, sink, [&](uint64_t value) { total = value; });
    ASSERT_EQ(result.outcome.code(), 0);
    ASSERT_NE(result.archive, nullptr);
    const std::unique_ptr<GrfArchive> fresh = std::move(result.archive);
    EXPECT_EQ(total, ground.size() + picture.size() + dropped.size());
    EXPECT_EQ(sink.committed, total);
    expectNoOtherFiles(dir, "test.grf");

    const auto bytes = bytesOf(*fresh);
    ASSERT_EQ(fresh->storedEntries().size(), 3u);
    EXPECT_EQ(fresh->findStored("data\\pending.txt"), nullptr);
    uint32_t expectedOffset = HEADER_SIZE;
    for (size_t i = 0; i < fresh->storedEntries().size(); ++i) {
        const GrfEntry& entry = *fresh->storedEntries()[i];
        SCOPED_TRACE(entry.name());
        EXPECT_EQ(entry.name(), tableOrder[i]);
        EXPECT_EQ(entry.offset(), expectedOffset);
        EXPECT_EQ(entry.flags(), 1);
        EXPECT_EQ(entry.storedSize(), entry.compressedSize());
        expectedOffset += entry.storedSize();
    }
    EXPECT_EQ(tablePosition(bytes), expectedOffset);
    EXPECT_EQ(contentOf(bytes, *stored(*fresh, "data\\z.gat")), ground);
    EXPECT_EQ(contentOf(bytes, *stored(*fresh, "data\\a.bmp")), picture);
    EXPECT_EQ(contentOf(bytes, *stored(*fresh, "data\\m.txt")), dropped);
}

// A table may hold several records of one name (letter case aside). The repack keeps the one a
// look-up of the name finds, so every name gives the bytes it gave before, and names each record
// it leaves out.
TEST(Repack, KeepsWhatALookUpFindsAndNamesEachShadowedRecord) {
    struct RecordingSink : CountingSink {
        std::vector<FailureReason> failures;
        void reportItemFailure(const FailureReason& reason) override { failures.push_back(reason); }
    };
    TempDir dir;
    TestArchive writer;
    const char* const names[] = {"data\\a.txt", "data\\b.txt", "data\\a.txt", "data\\c.txt", "DATA\\B.TXT",
                                 "data\\d.txt", "data\\e.txt", "data\\a.txt", "data\\f.txt", "data\\g.txt",
                                 "data\\h.txt"};
    for (size_t i = 0; i < std::size(names); ++i) writer.add(names[i], sampleData(200 + i, uint32_t(30 + i)));
    writer.writeTo(dir);
    const std::vector<std::string> kept = {"data\\a.txt", "data\\b.txt", "data\\c.txt", "data\\d.txt",
                                           "data\\e.txt", "data\\f.txt", "data\\g.txt", "data\\h.txt"};

    auto old = std::make_unique<GrfArchive>();
    ASSERT_TRUE(old->open(dir.file(u"test.grf")));
    ASSERT_EQ(old->storedEntries().size(), std::size(names));
    std::map<std::string, std::vector<uint8_t>> before;
    const auto oldBytes = bytesOf(*old);
    for (const std::string& name : kept) before[name] = contentOf(oldBytes, *stored(*old, name));

    RecordingSink sink;
    RecompressResult result = recompressArchive(std::move(old), 6, false, sink, [](uint64_t) {});
    ASSERT_TRUE(result.outcome) << describe(result.outcome);
    const std::unique_ptr<GrfArchive> fresh = std::move(result.archive);
    ASSERT_NE(fresh, nullptr);
    std::vector<std::string> keptNames;
    for (const auto& entry : fresh->storedEntries()) keptNames.push_back(entry->name());
    EXPECT_EQ(keptNames, kept);
    const auto bytes = bytesOf(*fresh);
    for (const std::string& name : kept) {
        SCOPED_TRACE(name);
        EXPECT_EQ(contentOf(bytes, *stored(*fresh, name)), before[name]);
    }

    ASSERT_EQ(sink.failures.size(), 3u);
    const std::u16string leftOut[] = {u"data\\a.txt", u"DATA\\B.TXT", u"data\\a.txt"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sink.failures[i].subject, leftOut[i]);
        EXPECT_TRUE(sink.failures[i].subjectIsEntry);
        EXPECT_EQ(sink.failures[i].cause, Cause::SHADOWED_RECORD);
    }
    EXPECT_EQ(causeText(sink.failures[0]), "an earlier record of the same name supersedes it (a look-up of the name finds that one)");
    expectNoOtherFiles(dir, "test.grf");
}

TEST(Repack, ArchiveWithoutStoredEntriesIsReleasedAndReplaced) {
    TempDir dir;
    {
        GrfArchive empty;
        ASSERT_TRUE(empty.create(dir.file(u"test.grf")));
        CountingSink sink;
        ASSERT_TRUE(saveArchive(empty, 6, false, sink));
    }
    auto old = std::make_unique<GrfArchive>();
    ASSERT_TRUE(old->open(dir.file(u"test.grf")));
    addDiskFile(*old, "data\\pending.txt", dir, toBytes("unsaved"));
    CountingSink sink;
    NoTotal total;
    RecompressResult result = recompressArchive(std::move(old), 6, false, sink, std::ref(total));
    const std::unique_ptr<GrfArchive> fresh = std::move(result.archive);
    EXPECT_EQ(result.outcome.code(), 0);
    EXPECT_EQ(total.seen, 0u);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->file.isOpen());
    EXPECT_TRUE(fresh->storedEntries().empty());
    EXPECT_TRUE(fresh->pendingEntries().empty());
    expectNoOtherFiles(dir, "test.grf");
}

TEST(Repack, FailedSaveKeepsTheOldFileAndReopensIt) {
    TempDir dir;
    auto stream = deflateBytes(sampleData(800, 23));
    stream[stream.size() / 2] ^= 0x55;
    TestArchive().add("data\\good.txt", "fine").add("data\\bad.txt", sampleData(800, 23)).stream(stream).writeTo(dir);
    const auto before = readWholeFile(dir.native(u"test.grf"));
    auto old = std::make_unique<GrfArchive>();
    ASSERT_TRUE(old->open(dir.file(u"test.grf")));
    CountingSink sink;
    RecompressResult result = recompressArchive(std::move(old), 6, false, sink, [](uint64_t) {});
    const std::unique_ptr<GrfArchive> reopened = std::move(result.archive);
    EXPECT_EQ(result.outcome.code(), RESULT_BAD_DATA);
    ASSERT_NE(reopened, nullptr);
    EXPECT_TRUE(reopened->file.isOpen());
    EXPECT_EQ(reopened->storedEntries().size(), 2u);
    EXPECT_EQ(bytesOf(*reopened), before);
    expectNoOtherFiles(dir, "test.grf");
}

TEST(Repack, NoTemporaryFileLeavesTheOldArchiveOpen) {
    TempDir dir;
    TestArchive().add("data\\a.txt", "a").writeTo(dir);
    auto old = std::make_unique<GrfArchive>();
    ASSERT_TRUE(old->open(dir.file(u"test.grf")));
    // A directory that does not exist: no temporary file can be made beside the archive.
    old->path = dir.file(u"gone\\test.grf");
    const GrfArchive* const handed = old.get();
    CountingSink sink;
    RecompressResult result = recompressArchive(std::move(old), 6, false, sink, [](uint64_t) { FAIL() << "no total"; });
    const std::unique_ptr<GrfArchive> kept = std::move(result.archive);
    EXPECT_EQ(kept.get(), handed);
    EXPECT_NE(result.outcome.code(), 0);
    EXPECT_TRUE(kept->file.isOpen());
    EXPECT_EQ(kept->storedEntries().size(), 1u);
}

namespace {

std::map<std::string, std::vector<uint8_t>> contentsOf(const Opened& opened) {
    std::map<std::string, std::vector<uint8_t>> contents;
    for (const auto& entry : opened.archive->storedEntries()) contents[entry->name()] = contentOf(opened.bytes, *entry);
    return contents;
}

// Fails the call with the given number (counted from 1) through a fault hook (writes' or reads'),
// and lets every other one through.
class NthCallFault {
public:
    using Install = void (*)(std::function<bool()>);
    NthCallFault(Install install, int failing) : install(install) {
        install([this, failing] { return ++calls != failing; });
    }
    ~NthCallFault() { install({}); }
    int calls = 0;

private:
    Install install;
};

}  // namespace

// Whichever write of a save fails, the file opens afterwards with what it held before: the
// entries' data land in gaps and after the end, and the header is the last thing written.
TEST(SaveFaults, EveryFailedWriteLeavesThePreviousContents) {
    TempDir dir;
    TestArchive()
        .add("data\\a.txt", sampleData(900, 30))
        .add("data\\b.bin", noiseData(4000, 31))
        .add("data\\c.txt", sampleData(700, 32))
        .writeTo(dir);
    {
        // A gap in the middle and the first table's space, for the faulted saves to write into.
        auto opened = reopen(dir);
        opened.archive->markDeleted(*stored(*opened.archive, "data\\b.bin"));
        CountingSink sink;
        ASSERT_TRUE(saveArchive(*opened.archive, 6, false, sink));
    }
    const auto base = readWholeFile(dir.native(u"test.grf"));
    const auto previous = contentsOf(reopen(dir));
    ASSERT_EQ(previous.size(), 2u);
    FreeList gaps;
    {
        auto opened = reopen(dir);
        ASSERT_TRUE(buildFreeList(*opened.archive, gaps));
    }
    ASSERT_EQ(gaps.size(), 2u);

    // At level 0 a stream is its data and 11 bytes, so these fill both gaps exactly; the tiny
    // entry then finds room only at the end, or in the table the header names if that were free.
    constexpr uint32_t STORED_OVERHEAD = 11;
    const auto fill = noiseData(gaps.front().length - STORED_OVERHEAD, 35);
    const auto plug = noiseData(gaps.back().length - STORED_OVERHEAD, 36);
    const auto tiny = toBytes("t");
    const auto large = sampleData(3 * 65536, 34);
    int failedSaves = 0;
    for (int failing = 1; failing < 20; ++failing) {
        SCOPED_TRACE("failing write " + std::to_string(failing));
        Cause lastCause = Cause::NONE;
        std::string lastText;
        {
            std::ofstream out(fs::path(dir.native(u"test.grf")), std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(base.data()), std::streamsize(base.size()));
        }
        bool saved = false;
        {
            auto opened = reopen(dir);
            GrfArchive& archive = *opened.archive;
            addDiskFile(archive, "data\\fill.bin", dir, fill);
            addDiskFile(archive, "data\\plug.bin", dir, plug);
            addDiskFile(archive, "data\\tiny.txt", dir, tiny);
            addDiskFile(archive, "data\\large.txt", dir, large);
            ASSERT_EQ(stored(archive, "data\\a.txt")->rename("data\\renamed.txt"), RenameResult::RENAMED);
            archive.markDeleted(*stored(archive, "data\\c.txt"));
            CountingSink sink;
            const NthCallFault fault(&setWriteFaultHook, failing);
            saved = saveArchive(archive, 0, false, sink).ok();
            EXPECT_EQ(saved, fault.calls < failing) << describe(archive);
            lastCause = archive.lastError.cause;
            lastText = causeText(archive.lastError);
        }
        const auto reopened = reopen(dir);
        const auto contents = contentsOf(reopened);
        if (!saved) {
            ++failedSaves;
            EXPECT_EQ(contents, previous);
            // The system's cause, never the archive-too-short text of the code.
            EXPECT_EQ(lastCause, Cause::DISK_FULL);
            EXPECT_EQ(lastText, std::strerror(ENOSPC));
            continue;
        }
        const std::map<std::string, std::vector<uint8_t>> expected{{"data\\renamed.txt", previous.at("data\\a.txt")},
                                                                   {"data\\fill.bin", fill},
                                                                   {"data\\plug.bin", plug},
                                                                   {"data\\tiny.txt", tiny},
                                                                   {"data\\large.txt", large}};
        EXPECT_EQ(contents, expected);
        EXPECT_EQ(stored(*reopened.archive, "data\\fill.bin")->offset(), gaps.front().start);
        EXPECT_EQ(stored(*reopened.archive, "data\\plug.bin")->offset(), gaps.back().start);
        EXPECT_EQ(stored(*reopened.archive, "data\\tiny.txt")->offset(), base.size());
        break;
    }
    // Four entries, the table and the header.
    EXPECT_EQ(failedSaves, 6);
}

namespace {

// Records the items a save names.
struct ItemSink : CountingSink {
    void reportItemFailure(const FailureReason& reason) override { failures.push_back(reason); }
    std::vector<FailureReason> failures;
};

}  // namespace

// Whichever read of a save fails (the archive's own, a source file held whole or one streamed in
// pieces), the save fails with the system's cause and the file keeps what it held; a source's
// failure names that file. A streamed source used to end early and be stored cut short.
TEST(SaveFaults, EveryFailedReadFailsTheSaveWithItsCause) {
    TempDir dir;
    TestArchive().add("data\\kept.txt", sampleData(700, 50)).writeTo(dir);
    const auto previous = contentsOf(reopen(dir));
    writeDiskFile(dir, u"small", sampleData(3000, 51));
    // Past the size held whole: read in pieces.
    { std::ofstream(fs::path(dir.native(u"streamed"))); }
    fs::resize_file(fs::path(dir.native(u"streamed")), STREAM_ABOVE_BYTES + 1);
    std::vector<std::u16string> failedSources;
    for (int failing = 1; failing <= 6; ++failing) {
        SCOPED_TRACE("failing read " + std::to_string(failing));
        {
            auto opened = reopen(dir);
            GrfArchive& archive = *opened.archive;
            addDiskFile(archive, "data\\small.txt", dir, u"small", 3000);
            addDiskFile(archive, "data\\streamed.bin", dir, u"streamed", uint32_t(STREAM_ABOVE_BYTES + 1));
            ItemSink sink;
            {
                const NthCallFault fault(&setReadFaultHook, failing);
                // One thread: the reads come in one order.
                EXPECT_FALSE(saveArchive(archive, 1, false, sink, 1));
            }
            EXPECT_EQ(archive.lastError.systemError, EIO) << describe(archive);
            EXPECT_EQ(archive.lastError.operation, Operation::READ);
            EXPECT_EQ(archive.lastError.cause, Cause::READ_ERROR);
            // A source's failure is the item's; the archive's own is not.
            if (archive.lastError.subject != archive.path) {
                ASSERT_EQ(sink.failures.size(), 1u);
                EXPECT_EQ(sink.failures[0].subject, archive.lastError.subject);
                failedSources.push_back(archive.lastError.subject);
            } else {
                EXPECT_TRUE(sink.failures.empty());
            }
        }
        EXPECT_EQ(contentsOf(reopen(dir)), previous);
    }
    EXPECT_NE(std::find(failedSources.begin(), failedSources.end(), dir.file(u"small")), failedSources.end());
    EXPECT_NE(std::find(failedSources.begin(), failedSources.end(), dir.file(u"streamed")), failedSources.end());
}

// A real full disk, where the test may mount one: the save fails with the system's cause, an
// existing archive keeps its contents, and a new one leaves nothing under its name.
TEST(SaveFaults, FullDiskFailsTheSaveWithItsCauseAndKeepsTheArchive) {
    TempDir dir;
    fs::create_directory(dir.native(u"disk"));
    const SmallDisk disk(dir.native(u"disk"), 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.refusal();
    TestArchive().add("data\\kept.txt", sampleData(700, 52)).writeTo(dir, u"disk\\test.grf");
    const auto previous = contentsOf(reopen(dir, u"disk\\test.grf"));
    const auto noise = noiseData(200 * 1024, 53);
    for (const bool fresh : {false, true}) {
        SCOPED_TRACE(fresh ? "new archive" : "existing archive");
        GrfArchive archive;
        const std::u16string path = dir.file(fresh ? u"disk\\new.grf" : u"disk\\test.grf");
        ASSERT_TRUE(fresh ? archive.create(path) : archive.open(path)) << describe(archive);
        addDiskFile(archive, "data\\noise.bin", dir, noise);
        CountingSink sink;
        EXPECT_FALSE(saveArchive(archive, 6, false, sink));
        EXPECT_EQ(archive.lastError.cause, Cause::DISK_FULL) << describe(archive);
        EXPECT_EQ(causeText(archive.lastError), std::strerror(ENOSPC));
        archive.close();
    }
    EXPECT_EQ(contentsOf(reopen(dir, u"disk\\test.grf")), previous);
    // Only the archive that was there: no new one, no temporary file.
    std::vector<std::string> left;
    for (const auto& item : fs::directory_iterator(fs::path(dir.native(u"disk")))) {
        left.push_back(item.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"test.grf"});
}

// A table that would end beyond what 32-bit positions reach: the save stops before writing
// past the limit, says why, and the file is as it was (a sparse file stands for a full archive).
TEST(SaveFaults, TablePastFourGibibytesIsRefusedAndTheArchiveStaysAsItWas) {
    TempDir dir;
    TestArchive().add("data\\kept.txt", sampleData(700, 54)).writeTo(dir);
    const uint64_t length = 0xFFFFFFF8u;
    fs::resize_file(fs::path(dir.native(u"test.grf")), length);
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.open(dir.file(u"test.grf"))) << describe(archive);
        addDiskFile(archive, "data\\more.txt", dir, sampleData(100, 55));
        CountingSink sink;
        EXPECT_FALSE(saveArchive(archive, 6, false, sink));
        EXPECT_EQ(archive.lastError.code, RESULT_BAD_LENGTH);
        EXPECT_EQ(archive.lastError.cause, Cause::ARCHIVE_TOO_LARGE) << describe(archive);
        EXPECT_EQ(causeText(archive.lastError), "the archive would grow past the format's limit (4 GiB)");
    }
    EXPECT_EQ(fs::file_size(fs::path(dir.native(u"test.grf"))), length);
    GrfArchive reopened;
    ASSERT_TRUE(reopened.open(dir.file(u"test.grf"))) << describe(reopened);
    ASSERT_EQ(reopened.storedEntries().size(), 1u);
    EXPECT_EQ(reopened.storedEntries()[0]->name(), "data\\kept.txt");
}

// What creating an archive writes, never saved: it opens empty, takes entries and saves.
TEST(Save, NeverSavedNewArchiveOpensEmptyAndTakesEntries) {
    TempDir dir;
    {
        GrfArchive created;
        ASSERT_TRUE(created.createInPlace(dir.file(u"test.grf"))) << describe(created);
    }
    ASSERT_EQ(readWholeFile(dir.native(u"test.grf")).size(), HEADER_SIZE);
    {
        auto opened = reopen(dir);
        GrfArchive& archive = *opened.archive;
        EXPECT_TRUE(archive.storedEntries().empty());
        addDiskFile(archive, "data\\a.txt", dir, sampleData(300, 40));
        CountingSink sink;
        ASSERT_TRUE(saveArchive(archive, 6, false, sink)) << describe(archive);
    }
    auto opened = reopen(dir);
    ASSERT_EQ(opened.archive->storedEntries().size(), 1u);
    EXPECT_EQ(contentOf(opened.bytes, *stored(*opened.archive, "data\\a.txt")), sampleData(300, 40));
}

// A created archive takes its name only once its first save is complete.
TEST(Save, NewArchiveTakesItsNameOnlyWhenComplete) {
    TempDir dir;
    writeDiskFile(dir, u"test.grf", toBytes("what the user had here"));
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
        addDiskFile(archive, "data\\a.txt", dir, u"missing", 10);
        CountingSink sink;
        EXPECT_FALSE(saveArchive(archive, 6, false, sink));
        EXPECT_EQ(archive.lastError.cause, Cause::NOT_FOUND) << describe(archive);
    }
    EXPECT_EQ(readWholeFile(dir.native(u"test.grf")), toBytes("what the user had here"));
    expectNoOtherFiles(dir, "test.grf");
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.create(dir.file(u"test.grf")));
        addDiskFile(archive, "data\\b.txt", dir, sampleData(200, 41));
        CountingSink sink;
        ASSERT_TRUE(saveArchive(archive, 6, false, sink)) << describe(archive);
        EXPECT_TRUE(archive.stagingPath().empty());
        // Still the archive's own file after the move: a second save goes to the same place.
        addDiskFile(archive, "data\\c.txt", dir, sampleData(100, 42));
        ASSERT_TRUE(saveArchive(archive, 6, false, sink)) << describe(archive);
    }
    expectNoOtherFiles(dir, "test.grf");
    auto opened = reopen(dir);
    EXPECT_EQ(opened.archive->storedEntries().size(), 2u);
}

// Leftovers of interrupted repacks are recognised by name; one that a running program holds stays.
TEST(Repack, RemovesLeftoverTemporaryFilesNoProgramHolds) {
    TempDir dir;
    TestArchive().add("data\\a.txt", sampleData(500, 43)).writeTo(dir);
    writeDiskFile(dir, u"test.grf.1a2b.tmp", toBytes("killed repack"));
    writeDiskFile(dir, u"test.grf.00ff.tmp", toBytes("running repack"));
    writeDiskFile(dir, u"test.grf.notes.tmp", toBytes("not ours"));
    platform::ExclusiveFile running;
    ASSERT_EQ(running.open(dir.file(u"test.grf.00ff.tmp"), platform::ExclusiveFile::Mode::UPDATE), 0);

    auto old = std::make_unique<GrfArchive>();
    ASSERT_TRUE(old->open(dir.file(u"test.grf")));
    CountingSink sink;
    RecompressResult result = recompressArchive(std::move(old), 9, false, sink, [](uint64_t) {});
    const std::unique_ptr<GrfArchive> fresh = std::move(result.archive);
    EXPECT_EQ(result.outcome.code(), 0);
    EXPECT_FALSE(fs::exists(fs::path(dir.native(u"test.grf.1a2b.tmp"))));
    EXPECT_TRUE(fs::exists(fs::path(dir.native(u"test.grf.00ff.tmp"))));
    EXPECT_TRUE(fs::exists(fs::path(dir.native(u"test.grf.notes.tmp"))));
    running.close();
}

// Once the rewritten file has taken the archive's place, the repack is done, even when the
// file cannot be opened again (another program took it first).
TEST(Repack, ReplacedArchiveThatDoesNotReopenIsStillASuccess) {
    TempDir dir;
    TestArchive().add("data\\a.txt", sampleData(500, 44)).writeTo(dir);
    const std::u16string path = dir.file(u"test.grf");
    auto old = std::make_unique<GrfArchive>();
    ASSERT_TRUE(old->open(path));
    setOpenFaultHook([&path](const std::u16string& opened, platform::ExclusiveFile::Mode mode) {
        return opened == path && mode == platform::ExclusiveFile::Mode::UPDATE ? EACCES : 0;
    });
    CountingSink sink;
    RecompressResult result = recompressArchive(std::move(old), 9, false, sink, [](uint64_t) {});
    setOpenFaultHook({});
    const std::unique_ptr<GrfArchive> fresh = std::move(result.archive);
    EXPECT_EQ(result.outcome.code(), 0);
    EXPECT_EQ(result.reopenFailure.code, EACCES);
    EXPECT_EQ(result.reopenFailure.cause, Cause::IN_USE);
    ASSERT_NE(fresh, nullptr);
    EXPECT_FALSE(fresh->file.isOpen());
    expectNoOtherFiles(dir, "test.grf");
    auto opened = reopen(dir);
    EXPECT_EQ(contentOf(opened.bytes, *stored(*opened.archive, "data\\a.txt")), sampleData(500, 44));
}
