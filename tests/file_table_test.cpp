#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "archive/ops/extract_batch.h"
#include "archive/model/archive.h"
#include "platform/disk_ops.h"
#include "archive/format/byte_reader.h"
#include "archive/format/file_table.h"
#include "archive/format/header.h"
#include "archive/base/progress_sink.h"
#include "archive/base/result_codes.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"

namespace {

// A current-generation record as raw bytes, for tables no well-behaved writer makes.
std::vector<uint8_t> record(std::string_view name, uint8_t flags, bool terminated = true) {
    std::vector<uint8_t> out(name.begin(), name.end());
    if (terminated) out.push_back(0);
    const uint32_t fields[] = {5, 8, 3};
    for (uint32_t value : fields) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
    }
    out.push_back(flags);
    for (int i = 0; i < 4; ++i) out.push_back(0);
    return out;
}

TEST(Header, CreateWritesTheHeaderOfAnEmptyArchiveThatOpensEmpty) {
    TempDir dir;
    const std::vector<uint8_t> expected = {
        0x4D, 0x61, 0x73, 0x74, 0x65, 0x72, 0x20, 0x6F, 0x66, 0x20, 0x4D, 0x61, 0x67, 0x69, 0x63, 0x00,
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
        0x2E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00};
    {
        // A new archive waits beside its name until a save completes, and goes when closed unsaved.
        GrfArchive archive;
        ASSERT_TRUE(archive.create(dir.file(u"new.grf"))) << describe(archive);
        EXPECT_EQ(archive.version(), 0u);
        ASSERT_FALSE(archive.stagingPath().empty());
        EXPECT_EQ(archive.stagingPath().rfind(dir.file(u"new.grf."), 0), 0u);
        EXPECT_FALSE(platform::fileExists(dir.file(u"new.grf")));
        archive.file.close();
        EXPECT_EQ(readWholeFile(platform::nativePathUtf8(archive.stagingPath())), expected);
        archive.close();
        EXPECT_FALSE(platform::fileExists(archive.stagingPath()));
    }
    {
        GrfArchive archive;
        ASSERT_TRUE(archive.createInPlace(dir.file(u"new.grf"))) << describe(archive);
    }
    EXPECT_EQ(readWholeFile(dir.native(u"new.grf")), expected);

    // Such files exist wherever a new archive was never saved: they hold nothing.
    GrfArchive again;
    ASSERT_TRUE(again.open(dir.file(u"new.grf"))) << describe(again);
    EXPECT_TRUE(again.storedEntries().empty());
}

TEST(Header, AcceptsOnlyKnownVersions) {
    const struct { uint32_t version; int expected; uint32_t major; } cases[] = {
        {0x100, 0, 1}, {0x103, 0, 1}, {0x104, 0, 1}, {0x200, 0, 2},
        {0x105, RESULT_BAD_VERSION, 0}, {0x1FF, RESULT_BAD_VERSION, 0},
        {0x201, RESULT_BAD_VERSION, 0}, {0x300, RESULT_BAD_VERSION, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        TempDir dir;
        TestArchive writer;
        if (c.major == 1) writer.legacy(c.version);
        const auto path = writer.add("data\\a.txt", "hello").version(c.version).writeTo(dir);
        GrfArchive archive;
        EXPECT_EQ(archive.open(path).ok(), c.expected == 0) << describe(archive);
        if (c.expected == 0) {
            EXPECT_EQ(archive.version(), c.major);
            ASSERT_EQ(archive.storedEntries().size(), 1u);
            EXPECT_EQ(archive.storedEntries()[0]->name(), "data\\a.txt");
        } else {
            EXPECT_EQ(archive.lastError.code, c.expected) << describe(archive);
        }
    }
}

TEST(FileTable, KeepsOnlyRecordsWithEntryFlagsInTableOrder) {
    TempDir dir;
    const auto big = sampleData(3000);
    const auto path = TestArchive()
                          .add("data\\plain.txt", "plain text")
                          .add("data\\skip0.txt", "x").flags(0)
                          .add("data\\mixed.bmp", big).flags(3)
                          .add("data\\skip2.txt", "y").flags(2)
                          .add("data\\header.gat", big).flags(5)
                          .writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(path)) << describe(archive);
    ASSERT_EQ(archive.storedEntries().size(), 3u);
    EXPECT_EQ(archive.storedNameIndex().size(), 3u);
    EXPECT_FALSE(archive.isModified());
    EXPECT_EQ(archive.path, path);

    const GrfEntry& plain = *archive.storedEntries()[0];
    EXPECT_EQ(plain.name(), "data\\plain.txt");
    EXPECT_EQ(plain.coding(), -1);
    EXPECT_EQ(plain.flags(), 1);
    EXPECT_EQ(plain.offset(), 46u);
    EXPECT_EQ(plain.originalSize(), 10u);
    EXPECT_EQ(plain.compressedSize(), plain.storedSize());
    EXPECT_EQ(plain.state(), ENTRY_STORED);
    EXPECT_EQ(plain.owner(), &archive);

    const GrfEntry& mixed = *archive.storedEntries()[1];
    EXPECT_EQ(mixed.name(), "data\\mixed.bmp");
    EXPECT_EQ(mixed.flags(), 3);
    EXPECT_EQ(mixed.coding(), digitCount(mixed.compressedSize()));
    EXPECT_EQ(mixed.storedSize() % 8, 0u);
    EXPECT_GE(mixed.storedSize(), mixed.compressedSize());

    const GrfEntry& header = *archive.storedEntries()[2];
    EXPECT_EQ(header.flags(), 5);
    EXPECT_EQ(header.coding(), 0);
    EXPECT_EQ(header.originalSize(), 3000u);
    EXPECT_EQ(archive.findStored("DATA\\HEADER.GAT"), &header);
    EXPECT_EQ(archive.findStored("data\\skip0.txt"), nullptr);
}

TEST(FileTable, RecordCountOfZeroOrLessGivesAnEmptyArchive) {
    for (int32_t adjust : {-1, -5}) {
        SCOPED_TRACE(adjust);
        TempDir dir;
        const auto path = TestArchive().add("data\\a.txt", "a").damage(Damage::addToRecordCount(adjust)).writeTo(dir);
        GrfArchive archive;
        ASSERT_TRUE(archive.open(path)) << describe(archive);
        EXPECT_TRUE(archive.storedEntries().empty());
    }
    // The table is still read: a stream that does not inflate fails even with no records.
    TempDir dir;
    Damage damage = Damage::spoilTableStream();
    damage.addRecordCount = -1;
    const auto path = TestArchive().add("data\\a.txt", "a").damage(damage).writeTo(dir);
    GrfArchive archive;
    EXPECT_FALSE(archive.open(path));
    EXPECT_EQ(archive.lastError.code, RESULT_BAD_DATA) << describe(archive);
}

TEST(FileTable, RejectsDamagedFiles) {
    auto tooLongName = std::string("data\\") + std::string(255, 'n');  // 260 bytes
    auto withoutTerminator = record("data\\a.txt", 1);
    auto unterminated = record("data\\b.txt", 1, false);
    withoutTerminator.insert(withoutTerminator.end(), unterminated.begin(), unterminated.begin() + 10);

    const struct { const char* what; TestArchive archive; int expected; } cases[] = {
        {"header shorter than 46 bytes", TestArchive().add("a", "a").damage(Damage::truncateFile(100000)), RESULT_INVALID_ARCHIVE},
        {"table position past the end", TestArchive().add("a", "a").damage(Damage::shiftTableOffset(1000)), RESULT_BAD_LENGTH},
        {"packed table longer than the file", TestArchive().add("a", "a").damage(Damage::claimPackedTableSize(5000)), RESULT_TABLE_SHORT},
        {"file cut inside the packed table", TestArchive().add("a", "a").damage(Damage::truncateFile(3)), RESULT_TABLE_SHORT},
        {"table stream does not inflate", TestArchive().add("a", "a").damage(Damage::spoilTableStream()), RESULT_BAD_DATA},
        {"table inflates beyond its stated size", TestArchive().add("data\\a.txt", "a").damage(Damage::claimTableSize(5)), RESULT_BAD_DATA},
        {"table ends inside a record", TestArchive().add("data\\a.txt", "a").damage(Damage::truncateTable(3)), RESULT_TABLE_SHORT},
        {"more records announced than present", TestArchive().add("data\\a.txt", "a").damage(Damage::addToRecordCount(1)), RESULT_TABLE_SHORT},
        {"name without terminator", TestArchive().rawRecords(withoutTerminator, 2), RESULT_TABLE_SHORT},
        {"name longer than 259 bytes", TestArchive().rawRecords(record(tooLongName, 1), 1), RESULT_TABLE_SHORT},
        {"legacy table position past the end", TestArchive().legacy().add("a.txt", "a").damage(Damage::shiftTableOffset(1000)), RESULT_BAD_LENGTH},
        {"legacy table ends inside a record", TestArchive().legacy().add("a.txt", "a").damage(Damage::truncateFile(2)), RESULT_TABLE_SHORT},
        {"legacy record count beyond the table", TestArchive().legacy().add("a.txt", "a").damage(Damage::addToRecordCount(1)), RESULT_TABLE_SHORT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const auto path = c.archive.writeTo(dir);
        GrfArchive archive;
        EXPECT_FALSE(archive.open(path));
        EXPECT_EQ(archive.lastError.code, c.expected) << describe(archive);
        EXPECT_TRUE(archive.storedEntries().empty());
        EXPECT_EQ(archive.storedNameIndex().size(), 0u);
        EXPECT_FALSE(archive.file.isOpen());
    }
}

TEST(FileTable, MagicMustEndWithItsZeroByte) {
    TempDir dir;
    auto bytes = TestArchive().add("data\\a.txt", "a").bytes();
    bytes[15] = '!';
    const auto path = dir.file(u"bad.grf");
    {
        std::FILE* f = std::fopen(dir.native(u"bad.grf").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    GrfArchive archive;
    EXPECT_FALSE(archive.open(path));
    EXPECT_EQ(archive.lastError.code, RESULT_INVALID_ARCHIVE) << describe(archive);
}

TEST(FileTable, HugeClaimedTableSizeDoesNotExhaustMemory) {
    TempDir dir;
    const auto path = TestArchive().add("data\\a.txt", "abc").damage(Damage::claimTableSize(0xFFFFFFF0u)).writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(path)) << describe(archive);
    ASSERT_EQ(archive.storedEntries().size(), 1u);
    EXPECT_EQ(archive.storedEntries()[0]->name(), "data\\a.txt");
}

TEST(FileTable, LegacyRecordsDecodeNamesAndDeriveCoding) {
    TempDir dir;
    const auto path = TestArchive()
                          .legacy(0x103)
                          .add("data\\map.gat", "gat").flags(7)
                          .add("data\\MAP.GND", "gnd")
                          .add("data\\skipped.txt", "zz").flags(0)
                          .add("data\\pic.bmp", "bmp").stream(noiseData(1234))
                          .add("data\\tiny.x", "x").stream(noiseData(7))
                          .add("data\\README", "readme").stream(noiseData(55))
                          .add("data\\a.act", "act").compressedSize(1234)
                          .writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(path)) << describe(archive);
    ASSERT_EQ(archive.storedEntries().size(), 6u);
    const struct { const char* name; int32_t coding; uint8_t flags; uint32_t compressedSize; } expected[] = {
        {"data\\map.gat", 0, 5, 0}, {"data\\MAP.GND", 0, 5, 0}, {"data\\pic.bmp", 4, 1, 1234},
        {"data\\tiny.x", 1, 1, 7}, {"data\\README", 2, 1, 55}, {"data\\a.act", 0, 5, 1234},
    };
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(expected[i].name);
        const GrfEntry& entry = *archive.storedEntries()[i];
        EXPECT_EQ(entry.name(), expected[i].name);
        EXPECT_EQ(entry.coding(), expected[i].coding);
        EXPECT_EQ(entry.flags(), expected[i].flags);
        if (expected[i].compressedSize) {
            EXPECT_EQ(entry.compressedSize(), expected[i].compressedSize);
        }
        EXPECT_EQ(entry.storedSize() % 8, 0u);
        EXPECT_EQ(entry.state(), ENTRY_STORED);
    }
    EXPECT_EQ(archive.storedEntries()[3]->originalSize(), 1u);
    EXPECT_EQ(archive.findStored("data\\map.gnd"), archive.storedEntries()[1].get());
}

TEST(FileTable, LegacyRecordMustFitInTheTable) {
    // A hand-made record, coded name included, that fits exactly.
    std::vector<uint8_t> table = {14, 0, 0, 0, 0, 0};  // L = 14: an 8-byte area
    std::vector<uint8_t> area = {'a', '.', 'b', 0, 0, 0, 0, 0};
    encodeNameArea(area.data(), area.size());
    table.insert(table.end(), area.begin(), area.end());
    table.resize(14 + 21, 0);
    table[14 + 16] = 1;  // an entry
    TempDir dir;
    auto bytes = TestArchive().legacy().bytes();
    bytes.insert(bytes.end(), table.begin(), table.end());
    bytes[38] = 8;  // one record
    // Fine as it stands; without its last byte the fixed fields no longer fit.
    for (bool cut : {false, true}) {
        SCOPED_TRACE(cut);
        auto content = bytes;
        if (cut) content.pop_back();
        std::FILE* f = std::fopen(dir.native(u"l.grf").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        GrfArchive archive;
        EXPECT_EQ(archive.open(dir.file(u"l.grf")).ok(), !cut) << describe(archive);
        if (!cut) {
            ASSERT_EQ(archive.storedEntries().size(), 1u);
            EXPECT_EQ(archive.storedEntries()[0]->name(), "a.b");
        } else {
            EXPECT_EQ(archive.lastError.code, RESULT_TABLE_SHORT);
        }
    }
}

TEST(FileTable, LegacyLastNameBlockRunsIntoTheFixedFields) {
    // L = 16: a 10-byte name area is two blocks, so the second block covers the 4 skipped bytes
    // and the first 2 bytes of packedSize, which are stored coded and read as decoded.
    std::vector<uint8_t> record(16 + 21, 0);
    record[0] = 16;
    const char name[] = "abc.bmp";
    std::memcpy(record.data() + 6, name, sizeof(name));
    const uint32_t compressed = 300, original = 1000;
    const uint32_t packedSize = compressed + original + 715;
    const uint32_t fields[] = {packedSize, 312 + 37579, original};
    for (size_t f = 0; f < 3; ++f) {
        for (int i = 0; i < 4; ++i) record[20 + 4 * f + i] = uint8_t(fields[f] >> (8 * i));
    }
    record[16 + 16] = 1;
    encodeNameArea(record.data() + 6, 16);

    auto bytes = TestArchive().legacy().bytes();
    bytes.insert(bytes.end(), record.begin(), record.end());
    bytes[38] = 8;
    TempDir dir;
    {
        std::ofstream out(dir.native(u"l.grf"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    GrfArchive archive;
    ASSERT_TRUE(archive.open(dir.file(u"l.grf"))) << describe(archive);
    ASSERT_EQ(archive.storedEntries().size(), 1u);
    EXPECT_EQ(archive.storedEntries()[0]->name(), "abc.bmp");
    EXPECT_EQ(archive.storedEntries()[0]->compressedSize(), compressed);
    EXPECT_EQ(archive.storedEntries()[0]->storedSize(), 312u);
    EXPECT_EQ(archive.storedEntries()[0]->coding(), 3);
}

// Every byte of the header and table, set to a few telling values: the open either fails with a
// reader's code and no entries, or gives entries whose extraction answers a code. Meant to run
// under the address sanitizer as well, where any read past a buffer shows.
TEST(FileTable, SurvivesAnyOneByteOfHeaderOrTableDamaged) {
    const auto data = sampleData(400);
    const TestArchive writers[] = {
        TestArchive().add("data\a.txt", data).add("data\b.bmp", data).flags(3).add("c.gat", "c").flags(5),
        TestArchive().legacy().add("data\a.txt", data).add("data\b.gnd", data).add("c", "c"),
    };
    TempDir dir;
    for (const TestArchive& writer : writers) {
        const std::vector<uint8_t> clean = writer.bytes();
        const bool legacy = clean[43] == 1;
        // The current generation's table is packed; its records are damaged before packing.
        std::vector<uint8_t> records;
        size_t tableStart = 46 + (clean[30] | clean[31] << 8 | clean[32] << 16);
        if (!legacy) {
            const std::vector<uint8_t> packed(clean.begin() + tableStart + 8, clean.end());
            records = inflateBytes(packed, clean[tableStart + 4] | clean[tableStart + 5] << 8);
        }
        const size_t positions = legacy ? clean.size() : 46 + records.size();
        for (size_t at = 0; at < positions; ++at) {
            // Header bytes are damaged in the file; with legacy tables every byte from the data on.
            if (legacy && at >= 46 && at < tableStart) continue;
            for (const uint8_t value : {0x00, 0xFF, 0x7F, 0x81}) {
                std::vector<uint8_t> bytes;
                if (at < 46 || legacy) {
                    bytes = clean;
                    bytes[at] = value;
                } else {
                    auto damaged = records;
                    damaged[at - 46] = value;
                    bytes = TestArchive(writer).rawRecords(damaged, 3).bytes();
                }
                // A fresh file each round: rewriting one through truncation makes ext4 flush it.
                std::remove(dir.native(u"d.grf").c_str());
                {
                    std::ofstream out(dir.native(u"d.grf"), std::ios::binary);
                    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
                }
                GrfArchive archive;
                if (!archive.open(dir.file(u"d.grf"))) {
                    EXPECT_LE(archive.lastError.code, RESULT_INVALID_ARCHIVE) << at;
                    EXPECT_GE(archive.lastError.code, RESULT_BAD_DATA) << at;
                    EXPECT_TRUE(archive.storedEntries().empty());
                    continue;
                }
                struct : ProgressSink {
                    void reportStatus(const char16_t*) override {}
                    void reportProgress(uint32_t, bool) override {}
                } quiet;
                // The target is the directory itself: the data are read and inflated, and a sound
                // entry ends at the open of its output, so no round writes a file.
                for (const auto& entry : archive.storedEntries()) {
                    EXPECT_FALSE(extractEntry(*entry, dir.path(), quiet));
                    EXPECT_LE(archive.lastError.code, RESULT_BAD_LENGTH) << at;
                    EXPECT_GE(archive.lastError.code, RESULT_OPEN_FAILED) << at;
                }
            }
        }
    }
}

TEST(FileTable, WriteRecordRoundTripsThroughParseRecord) {
    const struct { const char* name; uint8_t flags; int32_t coding; uint8_t written; } cases[] = {
        {"data\\plain.txt", 1, -1, 1},
        {"data\\mixed.bmp", 1, 4, 3},     // mixed coding is written as flag 3 whatever the flag byte
        {"data\\legacy.gat", 5, 0, 5},    // legacy header-only keeps flag 5
        {"data\\added.txt", 1, 0, 1},     // added entries keep flag 1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EntryRecord record;
        record.name = c.name;
        record.compressedSize = 1234;
        record.storedSize = 1240;
        record.originalSize = 99999;
        record.offset = 0x12345678;
        record.flags = c.flags;
        record.coding = c.coding;
        std::vector<uint8_t> out;
        ASSERT_TRUE(appendRecord(out, record));
        EXPECT_EQ(out.size(), std::strlen(c.name) + 18);

        EntryRecord back;
        ByteReader cursor(out);
        ASSERT_TRUE(parseRecord(2, cursor, back));
        EXPECT_EQ(cursor.remaining(), 0u);
        EXPECT_EQ(back.name, c.name);
        EXPECT_EQ(back.flags, c.written);
        EXPECT_EQ(back.compressedSize, 1234u);
        EXPECT_EQ(back.storedSize, 1240u);
        EXPECT_EQ(back.originalSize, 99999u);
        EXPECT_EQ(back.offset, 0x12345678u);
    }
    // Data no 32-bit record can name: nothing is written (a deleted entry is left out by the save).
    for (const uint64_t offset : {uint64_t(10), uint64_t(1) << 32}) {
        EntryRecord unreachable;
        unreachable.name = "data\\far.txt";
        unreachable.offset = offset;
        std::vector<uint8_t> out;
        EXPECT_FALSE(appendRecord(out, unreachable)) << offset;
        EXPECT_TRUE(out.empty());
    }
}

}  // namespace
