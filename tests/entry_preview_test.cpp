// The preview's data and how it is shown, apart from any window.
#include <gtest/gtest.h>

#include <fstream>

#include "archive/model/archive.h"
#include "archive/preview/entry_preview.h"
#include "archive/format/name_hash.h"
#include "archive/base/result_codes.h"
#include "platform/code_page.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

class EntryPreviewTest : public testing::Test {
protected:
    GrfArchive& open(const TestArchive& writer) {
        EXPECT_TRUE(archive.openForReading(writer.writeTo(dir))) << archive.lastError.code;
        return archive;
    }

    TempDir dir;
    GrfArchive archive;
};

TEST_F(EntryPreviewTest, ReadsWholeEntriesHeadsOfLargeOnesAndReportsDamage) {
    const std::vector<uint8_t> big = sampleData(200000, 3);
    open(TestArchive()
             .add("data\\a.txt", "hello")
             .add("data\\big.bin", big)
             .add("data\\coded.bmp", big).flags(3)
             .add("data\\empty.txt", "")
             .add("data\\broken.txt", "some text").stream({0x78, 0x9C, 0xFF, 0xFF, 0xFF})
             .add("data\\short.txt", "some text").originalSize(4));
    const struct { const char* name; uint32_t limit; std::vector<uint8_t> bytes; bool truncated; int error; } cases[] = {
        {"data\\a.txt", PREVIEW_MAX_BYTES, bytesOf("hello"), false, 0},
        {"data\\big.bin", PREVIEW_MAX_BYTES, big, false, 0},
        {"data\\big.bin", 65536, {big.begin(), big.begin() + 65536}, true, 0},
        {"data\\big.bin", 199999, {big.begin(), big.end() - 1}, true, 0},
        {"data\\coded.bmp", 1000, {big.begin(), big.begin() + 1000}, true, 0},
        {"data\\empty.txt", PREVIEW_MAX_BYTES, {}, false, 0},
        {"data\\broken.txt", PREVIEW_MAX_BYTES, {}, false, RESULT_BAD_DATA},
        {"data\\broken.txt", 2, {}, false, RESULT_BAD_DATA},
        {"data\\short.txt", PREVIEW_MAX_BYTES, {}, false, RESULT_BAD_DATA},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " limit " << c.limit);
        const GrfEntry* const entry = archive.findStored(c.name);
        ASSERT_NE(entry, nullptr);
        const PreviewData data = readPreviewData(*entry, c.limit);
        EXPECT_EQ(data.error, c.error);
        EXPECT_EQ(data.truncated, c.truncated);
        EXPECT_TRUE(data.bytes == c.bytes) << data.bytes.size() << " bytes";
    }
}

TEST_F(EntryPreviewTest, AddedEntriesShowTheirSourceFileOrEntry) {
    const auto source = std::make_shared<GrfArchive>();
    ASSERT_TRUE(source->openForReading(TestArchive().add("data\\a.txt", "from the archive").writeTo(dir, u"source.grf")));
    {
        std::ofstream file(dir.native(u"disk.txt"), std::ios::binary);
        file << "from the disk";
    }
    GrfArchive target;
    ASSERT_TRUE(target.create(dir.file(u"target.grf")));
    const GrfEntry* const disk = target.addFile("data\\disk.txt", dir.file(u"disk.txt"), 13);
    const GrfEntry* const imported = target.importEntry(shareEntry(source, source->findStored("data\\a.txt")));
    ASSERT_NE(imported, nullptr);

    EXPECT_EQ(readPreviewData(*disk).bytes, bytesOf("from the disk"));
    const PreviewData head = readPreviewData(*disk, 4);
    EXPECT_EQ(head.bytes, bytesOf("from"));
    EXPECT_TRUE(head.truncated);
    EXPECT_EQ(readPreviewData(*imported).bytes, bytesOf("from the archive"));

    EXPECT_EQ(readPreviewData(*target.addFile("data\\gone.txt", dir.file(u"gone.txt"), 5)).error, RESULT_OPEN_FAILED);
}

TEST(PreviewKind, PicturesBySignatureTgaByNameTextByContent) {
    const struct { const char* name; std::vector<uint8_t> bytes; PreviewKind kind; } cases[] = {
        {"a.bmp", bytesOf("BM\x36\x04"), PreviewKind::PICTURE},
        {"a.dat", {0xFF, 0xD8, 0xFF, 0xE0}, PreviewKind::PICTURE},
        {"a.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0}, PreviewKind::PICTURE},
        {"a.gif", bytesOf("GIF89a"), PreviewKind::PICTURE},
        {"a.png", bytesOf("not really a png"), PreviewKind::TEXT},
        {"sprite\\A.TGA", {0, 0, 2, 0}, PreviewKind::TGA},
        {"tga", {0, 0, 2, 0}, PreviewKind::HEX},
        {"a.txt", bytesOf("line one\r\n\tline two\n"), PreviewKind::TEXT},
        {"a.lua", bytesOf("\xC7\xD1\xB1\xDB"), PreviewKind::TEXT},
        {"a.txt", {'a', 0, 'b'}, PreviewKind::HEX},
        {"a.gat", {'G', 'R', 'A', 'T', 1, 2}, PreviewKind::HEX},
        {"a.txt", {}, PreviewKind::TEXT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(previewKindOf(c.name, c.bytes), c.kind);
    }
}

TEST(PreviewKind, HexDumpShowsOffsetsBytesAndPrintableCharacters) {
    const std::vector<uint8_t> bytes = bytesOf(std::string_view("0123456789abcdef\0\xFF", 18));
    EXPECT_EQ(hexDump(bytes),
              u"00000000  30 31 32 33 34 35 36 37-38 39 61 62 63 64 65 66  0123456789abcdef\r\n"
              u"00000010  00 FF                                            ..\r\n");
    EXPECT_EQ(hexDump(bytes, 3), u"00000000  30 31 32                                         012\r\n");
    EXPECT_EQ(hexDump(std::vector<uint8_t>(70000, 'x')).size(), 4096u * 77) << "64 KiB, 77 units a row";
}

TEST(PreviewText, WholeDocumentsDecodeWithStandInsForBadBytes) {
    EXPECT_EQ(platform::decodeDocument("\xC7\xD1\xB1\xDB ok", platform::CODE_PAGE_KOREAN), u"\uD55C\uAE00 ok");
    const std::string longText(100000, 'a');
    EXPECT_EQ(platform::decodeDocument(longText, platform::CODE_PAGE_WESTERN).size(), 100000u);
    // A lead byte at the very end has no partner.
    const std::u16string cut = platform::decodeDocument("ab\xC7", platform::CODE_PAGE_KOREAN);
    ASSERT_EQ(cut.size(), 3u);
    EXPECT_EQ(cut.substr(0, 2), u"ab");
    EXPECT_NE(cut[2], u'\xC7');
}

}  // namespace
