#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/exclusive_file.h"
#include "platform/input_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/file_faults.h"

using platform::ExclusiveFile;
using Mode = platform::ExclusiveFile::Mode;

namespace {

void writeWhole(const std::u16string& path, const std::string& content) {
    ExclusiveFile file;
    ASSERT_EQ(file.open(path, Mode::WRITE), 0);
    ASSERT_TRUE(file.write(content.data(), content.size()));
}

std::string readWhole(const std::u16string& path) {
    ExclusiveFile file;
    if (file.open(path, Mode::READ) != 0) return "(cannot open)";
    std::string content(1 << 16, '\0');
    content.resize(file.read(content.data(), content.size()));
    return content;
}

const char* modeName(Mode mode) {
    switch (mode) {
    case Mode::READ: return "rb";
    case Mode::UPDATE: return "rb+";
    case Mode::CREATE: return "wb+";
    case Mode::WRITE: return "wb";
    }
    return "?";
}

TEST(ExclusiveFile, SecondOpenFollowsTheSharingRules) {
    const struct {
        Mode held;
        Mode second;
        int expected;
    } cases[] = {
        {Mode::UPDATE, Mode::READ, EACCES},
        {Mode::UPDATE, Mode::UPDATE, EACCES},
        {Mode::UPDATE, Mode::WRITE, EACCES},
        {Mode::CREATE, Mode::READ, EACCES},
        {Mode::WRITE, Mode::UPDATE, EACCES},
        {Mode::READ, Mode::UPDATE, EACCES},
        {Mode::READ, Mode::CREATE, EACCES},
        {Mode::READ, Mode::READ, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(modeName(c.held)) + " held, then " + modeName(c.second));
        TempDir dir;
        const std::u16string path = dir.file(u"held.grf");
        writeWhole(path, "archive bytes");
        ExclusiveFile held;
        ASSERT_EQ(held.open(path, c.held), 0);
        ExclusiveFile second;
        EXPECT_EQ(second.open(path, c.second), c.expected);
        EXPECT_EQ(second.isOpen(), c.expected == 0);
        if (c.held == Mode::READ || c.held == Mode::UPDATE) {
            // A refused truncating open must not have emptied the file behind the holder's back.
            EXPECT_EQ(held.size(), 13u);
        }
        held.close();
        second.close();
        EXPECT_EQ(second.open(path, Mode::UPDATE), 0) << "the lock outlived close()";
    }
}

TEST(ExclusiveFile, ReportsMissingFilesAndDirectories) {
    TempDir dir;
    ExclusiveFile file;
    EXPECT_EQ(file.open(dir.file(u"missing.grf"), Mode::READ), ENOENT);
    EXPECT_EQ(file.open(dir.file(u"missing.grf"), Mode::UPDATE), ENOENT);
    EXPECT_EQ(file.open(dir.path(), Mode::READ), EACCES);
    EXPECT_EQ(file.open(dir.path(), Mode::UPDATE), EACCES);
    EXPECT_EQ(file.open(dir.path(), Mode::CREATE), EACCES);
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.write("x", 1));
    EXPECT_EQ(file.tell(), UINT64_MAX);
}

TEST(ExclusiveFile, CreateTruncatesAndPositionsAreSixtyFourBit) {
    TempDir dir;
    const std::u16string path = dir.file(u"big.grf");
    writeWhole(path, "old content that must go");
    ExclusiveFile file;
    ASSERT_EQ(file.open(path, Mode::CREATE), 0);
    EXPECT_EQ(file.size(), 0u);
    ASSERT_TRUE(file.write("0123456789", 10));
    // Still in the stream's buffer: size() must count it, and keep the position.
    EXPECT_EQ(file.size(), 10u);
    EXPECT_EQ(file.tell(), 10u);

    const uint64_t beyond4GiB = (uint64_t(5) << 30) + 7;
    ASSERT_TRUE(file.seek(beyond4GiB));
    EXPECT_EQ(file.tell(), beyond4GiB);
    ASSERT_TRUE(file.seek(4));
    char middle[3] = {};
    EXPECT_EQ(file.read(middle, 3), 3u);
    EXPECT_EQ(std::string(middle, 3), "456");
    ASSERT_TRUE(file.seekEnd());
    EXPECT_EQ(file.tell(), 10u);
    EXPECT_TRUE(file.flushToDisk());
    file.close();
    EXPECT_EQ(readWhole(path), "0123456789");
}

TEST(ExclusiveFile, SwitchesBetweenReadingAndWritingWithoutASeek) {
    // Microsoft's runtime drops a write that follows a read directly, and reports success.
    TempDir dir;
    const std::u16string path = dir.file(u"mixed.grf");
    ExclusiveFile file;
    ASSERT_EQ(file.open(path, Mode::CREATE), 0);
    ASSERT_TRUE(file.write("0123456789", 10));
    ASSERT_TRUE(file.seek(2));
    char got[3] = {};
    ASSERT_EQ(file.read(got, 3), 3u);
    EXPECT_EQ(std::string(got, 3), "234");
    ASSERT_TRUE(file.write("XY", 2));
    EXPECT_EQ(file.tell(), 7u);
    ASSERT_TRUE(file.seek(0));
    ASSERT_TRUE(file.write("ab", 2));
    ASSERT_EQ(file.read(got, 3), 3u);
    EXPECT_EQ(std::string(got, 3), "234");
    file.close();
    EXPECT_EQ(readWhole(path), "ab234XY789");
}

TEST(ExclusiveFile, ReadAtSeesBufferedWritesAndStopsAtTheEnd) {
    TempDir dir;
    const std::u16string path = dir.file(u"positioned.grf");
    ExclusiveFile file;
    ASSERT_EQ(file.open(path, Mode::CREATE), 0);
    ASSERT_TRUE(file.write("0123456789", 10));   // still in the stream's buffer
    char got[8] = {};
    ASSERT_EQ(file.readAt(3, got, 4), 4u);
    EXPECT_EQ(std::string(got, 4), "3456");
    EXPECT_EQ(file.readAt(8, got, 8), 2u);
    EXPECT_EQ(std::string(got, 2), "89");
    EXPECT_EQ(file.readAt(12, got, 8), 0u);
    EXPECT_EQ(file.lastSystemError(), 0);
    // The stream goes on where a seek puts it.
    ASSERT_TRUE(file.seek(1));
    ASSERT_TRUE(file.write("ab", 2));
    EXPECT_EQ(file.size(), 10u);
    ASSERT_EQ(file.readAt(0, got, 4), 4u);
    EXPECT_EQ(std::string(got, 4), "0ab3");
}

TEST(ExclusiveFile, MovedFileKeepsItsHold) {
    TempDir dir;
    const std::u16string path = dir.file(u"moved.grf");
    writeWhole(path, "abc");
    ExclusiveFile first;
    ASSERT_EQ(first.open(path, Mode::UPDATE), 0);
    ExclusiveFile second(std::move(first));
    EXPECT_FALSE(first.isOpen());
    EXPECT_TRUE(second.isOpen());
    ExclusiveFile third;
    EXPECT_EQ(third.open(path, Mode::READ), EACCES);
    third = std::move(second);
    EXPECT_EQ(third.size(), 3u);
    third = ExclusiveFile();
    EXPECT_EQ(first.open(path, Mode::READ), 0);
}

TEST(ExclusiveFile, WriteFaultHookFailsChosenWrites) {
    TempDir dir;
    const std::u16string path = dir.file(u"faulty.grf");
    ExclusiveFile file;
    ASSERT_EQ(file.open(path, Mode::CREATE), 0);
    int writes = 0;
    setWriteFaultHook([&writes] { return ++writes != 2; });
    EXPECT_TRUE(file.write("a", 1));
    EXPECT_FALSE(file.write("b", 1));
    EXPECT_TRUE(file.write("c", 1));
    setWriteFaultHook(nullptr);
    EXPECT_TRUE(file.write("d", 1));
    EXPECT_EQ(writes, 3);
    file.close();
    EXPECT_EQ(readWhole(path), "acd");
}

// A file a save stores: read at positions, shared with readers, refused while a writer holds it.
TEST(InputFile, ReadsAtPositionsAndFollowsTheSharingRules) {
    TempDir dir;
    const std::u16string path = dir.file(u"source.txt");
    writeWhole(path, "0123456789");
    platform::InputFile input;
    ASSERT_EQ(input.open(path), 0);
    EXPECT_EQ(input.size(), 10u);
    char bytes[8] = {};
    EXPECT_EQ(input.readAt(6, bytes, 8), 4u) << "a read stops at the end of the file";
    EXPECT_EQ(std::string(bytes, 4), "6789");
    EXPECT_EQ(input.lastSystemError(), 0);
    EXPECT_EQ(input.readAt(2, bytes, 3), 3u);
    EXPECT_EQ(std::string(bytes, 3), "234");

    // Readers share; a writer is kept out while it is open, and let in once it closes.
    platform::InputFile second;
    EXPECT_EQ(second.open(path), 0);
    ExclusiveFile writer;
    EXPECT_EQ(writer.open(path, Mode::UPDATE), EACCES);
    input.close();
    second.close();
    ASSERT_EQ(writer.open(path, Mode::UPDATE), 0);
    EXPECT_EQ(input.open(path), EACCES);
    EXPECT_TRUE(input.heldByOther());
    EXPECT_FALSE(input.isOpen());
    writer.close();

    EXPECT_EQ(input.open(dir.file(u"missing.txt")), ENOENT);
    EXPECT_FALSE(input.heldByOther());
    EXPECT_EQ(input.open(dir.path()), EACCES);
    EXPECT_FALSE(input.heldByOther());
}

}  // namespace
