#include <gtest/gtest.h>

#include <memory>

#include "archive/model/archive.h"
#include "archive/format/name_hash.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(NameHash, TableAndKeysFollowTheGenerator) {
    // First values of the generator: s runs 0x00100001 → (s × 125 + 3) mod 0x2AAAAB, two draws per element.
    uint32_t s = 0x00100001;
    auto draw = [&s] {
        s = (s * 125 + 3) % 0x2AAAAB;
        return s & 0xFFFF;
    };
    // The blocks are filled interleaved: element 0 of block 0, then element 0 of block 1, ...
    for (size_t k = 0; k < 5; ++k) {
        const uint32_t hi = draw();
        const uint32_t lo = draw();
        EXPECT_EQ(hashTable[k * 256], hi << 16 | lo) << k;
    }
    EXPECT_EQ(hashTable[1], [&] { const uint32_t hi = draw(); return hi << 16 | draw(); }());
    EXPECT_EQ(nameKey(""), 0x7FED7FEDEEEEEEEEull);

    // One byte by hand: a = (a + b) ^ T[256 + c]; b = c + a + b + (b << 5) + 3.
    const uint32_t c = 'A';
    const uint32_t a = (0x7FED7FEDu + 0xEEEEEEEEu) ^ hashTable[256 + c];
    const uint32_t b = c + a + 0xEEEEEEEEu + (0xEEEEEEEEu << 5) + 3;
    EXPECT_EQ(nameKey("A"), uint64_t(a) << 32 | b);
    EXPECT_EQ(nameKey("a"), nameKey("A"));
}

TEST(NameHash, FoldsOnlyAsciiLetters) {
    EXPECT_EQ(nameKey("data\\texture\\A.BMP"), nameKey("DATA\\TEXTURE\\a.bmp"));
    EXPECT_TRUE(namesEqual("data\\texture\\A.BMP", "DATA\\TEXTURE\\a.bmp"));
    // Latin-1 é and É, and the two halves of a double-byte character, stay as they are.
    EXPECT_NE(nameKey("caf\xE9"), nameKey("caf\xC9"));
    EXPECT_FALSE(namesEqual("caf\xE9", "caf\xC9"));
    EXPECT_FALSE(namesEqual("[", "{"));   // 0x5B and 0x7B differ by 0x20 but are no letters
    EXPECT_NE(nameKey("@"), nameKey("`"));
    EXPECT_FALSE(namesEqual("abc", "abcd"));
}

TEST(EntryName, OrdersByFoldedUnsignedBytesAndChecksWhatATableHolds) {
    EXPECT_EQ(compareNames("data\\B.txt", "DATA\\b.TXT"), 0);
    EXPECT_LT(compareNames("a", "B"), 0);              // folded, not raw ('B' < 'a')
    EXPECT_LT(compareNames("_", "a"), 0);              // 0x5F before 0x61, though 'A' is 0x41
    EXPECT_LT(compareNames("z", "\xB0"), 0);           // high bytes last, as unsigned
    EXPECT_LT(compareNames("ab", "abc"), 0);
    EXPECT_GT(compareNames("abc", "AB"), 0);

    EXPECT_TRUE(isValidEntryName(std::string(MAX_NAME_LENGTH, 'n')));
    EXPECT_FALSE(isValidEntryName(std::string(MAX_NAME_LENGTH + 1, 'n')));
    EXPECT_FALSE(isValidEntryName(""));
    EXPECT_FALSE(isValidEntryName(std::string("a\0b", 3)));
}

class IndexTest : public ::testing::Test {
protected:
    GrfEntry* make(std::string_view name) {
        owned.push_back(std::make_unique<GrfEntry>(&archive));
        owned.back()->setName(name);
        return owned.back().get();
    }
    GrfArchive archive;
    std::vector<std::unique_ptr<GrfEntry>> owned;
};

TEST_F(IndexTest, FindsCaseVariantsAndKeepsInsertionOrderAmongEqualKeys) {
    GrfEntry* first = make("data\\Dup.txt");
    GrfEntry* other = make("data\\other.txt");
    GrfEntry* second = make("DATA\\DUP.TXT");
    NameIndex index;
    EXPECT_EQ(index.find("data\\dup.txt"), nullptr);
    index.assign({first, other, second});
    EXPECT_EQ(index.size(), 3u);
    EXPECT_EQ(index.find("data\\dup.txt"), first);
    EXPECT_EQ(index.find("data\\OTHER.txt"), other);
    EXPECT_EQ(index.find("data\\none.txt"), nullptr);

    // Later inserts come after the table's elements of the same key.
    GrfEntry* third = make("Data\\Dup.Txt");
    index.insert(third->key(), third);
    EXPECT_EQ(index.find("data\\dup.txt"), first);

    index.clear();
    EXPECT_EQ(index.size(), 0u);
    EXPECT_EQ(index.find("data\\dup.txt"), nullptr);
}

TEST_F(IndexTest, RekeyMovesAnEntryBehindTheOthersOfItsNewKey) {
    GrfEntry* a = make("data\\a.txt");
    GrfEntry* b = make("data\\b.txt");
    GrfEntry* bAgain = make("DATA\\B.TXT");
    NameIndex index;
    index.assign({a, b, bAgain});

    // Rename a to a case variant of b: found by the new name only, after the existing b's.
    const uint64_t previous = a->key();
    a->setName("Data\\B.txt");
    index.rekey(a, previous);
    EXPECT_EQ(index.size(), 3u);
    EXPECT_EQ(index.find("data\\a.txt"), nullptr);
    EXPECT_EQ(index.find("data\\b.txt"), b);

    // A change of case only keeps the key but still moves the element to the back.
    const uint64_t sameKey = b->key();
    b->setName("data\\B.txt");
    index.rekey(b, sameKey);
    EXPECT_EQ(index.find("data\\b.txt"), bAgain);

    // Entries inserted later can be re-keyed too.
    GrfEntry* late = make("data\\late.txt");
    index.insert(late->key(), late);
    const uint64_t lateKey = late->key();
    late->setName("data\\later.txt");
    index.rekey(late, lateKey);
    EXPECT_EQ(index.find("data\\late.txt"), nullptr);
    EXPECT_EQ(index.find("data\\later.txt"), late);
    EXPECT_EQ(index.size(), 4u);
}

TEST(StoredIndex, DuplicateAndDeletedEntriesAreFoundInTableOrder) {
    TempDir dir;
    const auto path = TestArchive()
                          .add("data\\texture\\A.BMP", "first")
                          .add("data\\other.bmp", "other")
                          .add("DATA\\TEXTURE\\a.bmp", "second")
                          .writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(path)) << describe(archive);
    ASSERT_EQ(archive.storedEntries().size(), 3u);
    EXPECT_EQ(archive.findStored("data\\texture\\a.bmp"), archive.storedEntries()[0].get());
    archive.markDeleted(*archive.storedEntries()[0]);
    EXPECT_EQ(archive.findStored("Data\\Texture\\A.bmp"), archive.storedEntries()[0].get());
    EXPECT_EQ(archive.findAdded("data\\texture\\a.bmp"), nullptr);
}

}  // namespace
