#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "archive/model/archive.h"
#include "archive/base/result_codes.h"
#include "platform/code_page.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"

namespace {

// Each kind of file that does not open gets the text the window shows for it; a system error
// number has none of its own (the window then shows the system's text).
TEST(ResultCodes, EachKindOfFileThatDoesNotOpenHasItsText) {
    TempDir dir;
    const auto notAnArchive = dir.file(u"text.grf");
    std::ofstream(std::filesystem::path(dir.native(u"text.grf")), std::ios::binary)
        << "plain text, and long enough to hold a whole header of an archive............";
    const struct {
        const char* what;
        std::u16string path;
        const char16_t* text;
    } cases[] = {
        {"not an archive", notAnArchive, u"无效的GRF文件！"},
        {"unknown version", TestArchive().add("data\\a.txt", "a").version(0x300).writeTo(dir, u"v.grf"), u"GRF文件的版本无效！"},
        {"table beyond the end", TestArchive().add("data\\a.txt", "a").damage(Damage::shiftTableOffset(1 << 20)).writeTo(dir, u"t.grf"),
         u"GRF文件长度有误！"},
        {"table stream damaged", TestArchive().add("data\\a.txt", "a").damage(Damage::spoilTableStream()).writeTo(dir, u"s.grf"),
         u"压缩数据有误！"},
        {"records cut short", TestArchive().add("data\\a.txt", "a").damage(Damage::truncateTable(3)).writeTo(dir, u"r.grf"),
         u"GRF文件头不完整！"},
        {"missing", dir.file(u"missing.grf"), u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GrfArchive archive;
        ASSERT_FALSE(archive.open(c.path));
        EXPECT_EQ(std::u16string(resultText(archive.lastError.code)), c.text) << archive.lastError.code;
    }
    // The sixth text is for a file the window cannot open to write an entry into.
    EXPECT_EQ(std::u16string(resultText(RESULT_OPEN_FAILED)), u"打开文件失败！");
}

TEST(Archive, EntryAtAnswersOnlyStoredPositions) {
    TempDir dir;
    const auto path = TestArchive().add("data\\a.txt", "a").add("data\\b.txt", "b").writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(path)) << describe(archive);
    EXPECT_EQ(archive.entryAt(-1), nullptr);
    EXPECT_EQ(archive.entryAt(0), archive.storedEntries()[0].get());
    EXPECT_EQ(archive.entryAt(1), archive.storedEntries()[1].get());
    EXPECT_EQ(archive.entryAt(2), nullptr);
    EXPECT_EQ(archive.entryAt(INT64_MIN), nullptr);
}

TEST(Archive, OpenFailuresOfTheStreamLeaveTheRuntimeErrorNumber) {
    TempDir dir;
    GrfArchive missing;
    EXPECT_FALSE(missing.open(dir.file(u"missing.grf")));
    EXPECT_GT(missing.lastError.code, 0);
    EXPECT_EQ(std::u16string(resultText(missing.lastError.code)), u"");

    const auto path = TestArchive().add("data\\a.txt", "a").writeTo(dir);
    namespace fs = std::filesystem;
    fs::permissions(dir.native(u"test.grf"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (std::FILE* probe = std::fopen(dir.native(u"test.grf").c_str(), "rb+")) {
        std::fclose(probe);
        fs::permissions(dir.native(u"test.grf"), fs::perms::owner_all);
        GTEST_SKIP() << "this account may write read-only files";
    }
    GrfArchive readOnly;
    EXPECT_FALSE(readOnly.open(path));
    EXPECT_GT(readOnly.lastError.code, 0);
    EXPECT_FALSE(readOnly.file.isOpen());
    fs::permissions(dir.native(u"test.grf"), fs::perms::owner_all);
}

TEST(Archive, CloseEmptiesEverythingAndIsHarmlessTwice) {
    TempDir dir;
    const auto path = TestArchive().add("data\\a.txt", "a").add("data\\b.txt", "b").writeTo(dir);
    GrfArchive never;
    never.close();
    EXPECT_FALSE(never.file.isOpen());

    GrfArchive archive;
    ASSERT_TRUE(archive.open(path)) << describe(archive);
    archive.lastError.code = RESULT_BAD_DATA;
    archive.markDeleted(*archive.storedEntries()[0]);
    archive.close();
    EXPECT_TRUE(archive.storedEntries().empty());
    EXPECT_EQ(archive.storedNameIndex().size(), 0u);
    EXPECT_FALSE(archive.file.isOpen());
    EXPECT_EQ(archive.findStored("data\\a.txt"), nullptr);
    // Left as they were.
    EXPECT_EQ(archive.path, path);
    EXPECT_EQ(archive.version(), 2u);
    EXPECT_TRUE(archive.isModified());
    EXPECT_EQ(archive.lastError.code, RESULT_BAD_DATA);
    archive.close();

    // The file is free again: the exclusive hold ended with close.
    GrfArchive again;
    EXPECT_TRUE(again.open(path)) << describe(again);
}

TEST(Archive, LastReleasedSourceReferenceDestroysTheSourceArchive) {
    TempDir dir;
    const auto sourcePath = TestArchive().add("data\\a.txt", "a").writeTo(dir, u"source.grf");
    TestArchive().add("data\\x.txt", "x").writeTo(dir, u"target.grf");

    auto source = std::make_shared<GrfArchive>();
    ASSERT_TRUE(source->open(sourcePath)) << describe(*source);
    GrfArchive target;
    ASSERT_TRUE(target.open(dir.file(u"target.grf"))) << describe(target);
    // Two entries borrow from the source: the first import, renamed, and a second one.
    ASSERT_EQ(target.importEntry(shareEntry(source, source->entryAt(0)))->rename("data\\b.txt"), RenameResult::RENAMED);
    target.importEntry(shareEntry(source, source->entryAt(0)));
    ASSERT_EQ(target.pendingEntries().size(), 2u);
    // From here on only the borrowing entries hold it.
    source.reset();

    // While referenced, the source keeps its file held.
    GrfArchive probe;
    EXPECT_FALSE(probe.open(sourcePath));
    EXPECT_EQ(probe.lastError.code, 13);

    // Drawing from a disk file instead releases one reference; the other still holds the file.
    target.addFile("data\\b.txt", dir.file(u"elsewhere.txt"), 1);
    EXPECT_FALSE(probe.open(sourcePath));
    target.close();  // destroys the last borrowing entry, and with it the source archive
    EXPECT_TRUE(probe.open(sourcePath)) << describe(probe);
}

TEST(Archive, EntriesKeepBothNameForms) {
    // "data\한글.txt" in code page 949; in Windows-1252 the same bytes read as Latin letters.
    const std::string name = "data\\\xC7\xD1\xB1\xDB.txt";
    TempDir dir;
    const auto path = TestArchive().add(name, "k").add("data\\\xFF.txt", "odd").writeTo(dir);
    ASSERT_TRUE(platform::setAnsiCodePage(1252));
    GrfArchive archive;
    ASSERT_TRUE(archive.open(path)) << describe(archive);
    ASSERT_EQ(archive.storedEntries().size(), 2u);
    const GrfEntry& korean = *archive.storedEntries()[0];
    EXPECT_EQ(korean.name(), name);
    EXPECT_EQ(korean.nameKorean(), u"data\\한글.txt");
    EXPECT_EQ(korean.nameAnsi(), u"data\\\u00C7\u00D1\u00B1\u00DB.txt");
    EXPECT_EQ(&korean.displayName(true), &korean.nameKorean());
    // 0xFF is no character in code page 949: no Korean form, but the entry stays.
    const GrfEntry& odd = *archive.storedEntries()[1];
    EXPECT_EQ(odd.nameAnsi(), u"data\\\u00FF.txt");
    EXPECT_EQ(odd.nameKorean(), u"");
    EXPECT_EQ(archive.findStored("data\\\xFF.txt"), &odd);
}

}  // namespace
