// The entry list the window and the command line share: rows, filter and sort.
#include <gtest/gtest.h>

#include <memory>

#include "archive/model/archive.h"
#include "archive/model/entry_list_model.h"
#include "archive/format/name_hash.h"
#include "platform/code_page.h"

namespace {

class EntryListModelTest : public testing::Test {
protected:
    void SetUp() override {
        platform::setAnsiCodePage(platform::CODE_PAGE_WESTERN);
    }

    GrfEntry& store(const std::string& name, uint32_t compressed = 0, uint32_t original = 0, uint32_t offset = 0) {
        EntryRecord record;
        record.name = name;
        record.compressedSize = compressed;
        record.originalSize = original;
        record.offset = offset;
        return *archive.adoptEntry(std::make_unique<GrfEntry>(&archive, record, ENTRY_STORED));
    }

    GrfEntry& add(const std::string& name, uint32_t compressed = 0) {
        // Appended as it is, namesakes included, as a table may hold them.
        EntryRecord record;
        record.name = name;
        record.compressedSize = compressed;
        return *archive.adoptEntry(std::make_unique<GrfEntry>(&archive, record, ENTRY_ADDED));
    }

    std::vector<std::string> namesOf(const std::vector<uint32_t>& rows) const {
        std::vector<std::string> names;
        for (const uint32_t row : rows) {
            names.push_back(entryForRow(archive, row)->name());
        }
        return names;
    }

    std::vector<uint32_t> allRows() const {
        return filterRows(archive, EntryFilter(u""), false);
    }

    GrfArchive archive;
};

TEST_F(EntryListModelTest, RowsAreStoredEntriesThenAddedOnes) {
    store("data\\a.txt");
    store("data\\b.txt");
    add("data\\c.txt");
    EXPECT_EQ(allRows(), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_TRUE(isStoredRow(archive, 1));
    EXPECT_FALSE(isStoredRow(archive, 2));
    EXPECT_EQ(entryForRow(archive, 2)->name(), "data\\c.txt");
    EXPECT_EQ(entryForRow(archive, 3), nullptr);
}

TEST_F(EntryListModelTest, FilterFoldsAsciiCaseAndTakesWildcardsOverTheWholeShownName) {
    store("data\\Alpha.txt");
    store("data\\\xB5\xA5.txt");   // two Latin-1 characters, or one Hangul syllable in 949
    store("data\\sprite\\frost_01.BMP");
    add("data\\alpha2.txt");
    const std::vector<std::string> all = {"data\\Alpha.txt", "data\\\xB5\xA5.txt", "data\\sprite\\frost_01.BMP",
                                          "data\\alpha2.txt"};
    const struct { const char16_t* filter; bool korean; std::vector<std::string> names; } cases[] = {
        {u"", false, all},
        {u"", true, all},
        {u"alpha", false, {"data\\Alpha.txt", "data\\alpha2.txt"}},
        {u"SPRITE", false, {"data\\sprite\\frost_01.BMP"}},
        {u"alpha2.txt2", false, {}},
        // Only ASCII letters fold: the Latin-1 micro sign and yen sign have no case partner here.
        {u"\u00B5\u00A5", false, {"data\\\xB5\xA5.txt"}},
        {u"\u00B5\u00A5", true, {}},
        {u"\uB370", true, {"data\\\xB5\xA5.txt"}},
        {u"*frost*.bmp", false, {"data\\sprite\\frost_01.BMP"}},
        {u"frost*", false, {}},                    // a pattern covers the whole name
        {u"*.TXT", false, {"data\\Alpha.txt", "data\\\xB5\xA5.txt", "data\\alpha2.txt"}},
        {u"data\\?????.txt", false, {"data\\Alpha.txt"}},
        {u"data\\??.txt", false, {"data\\\xB5\xA5.txt"}},
        {u"data\\?.txt", true, {"data\\\xB5\xA5.txt"}},
        {u"*", false, all},
        {u"**a*a**", false, all},
        {u"?", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "korean " << c.korean << ", filter of " << std::u16string(c.filter).size()
                                        << " units, first " << int(c.filter[0]));
        EXPECT_EQ(namesOf(filterRows(archive, EntryFilter(c.filter), c.korean)), c.names);
    }
}

TEST(Wildcard, BacktracksWithoutBlowingUp) {
    const std::u16string name(250, u'a');
    EXPECT_FALSE(matchesWildcard(u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", name));
    EXPECT_TRUE(matchesWildcard(u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a", name));
    EXPECT_TRUE(matchesWildcard(u"a*b*c", u"aXbYbZc"));
    EXPECT_FALSE(matchesWildcard(u"a*b*c", u"aXbYbZcd"));
    EXPECT_TRUE(matchesWildcard(u"", u""));
    EXPECT_FALSE(matchesWildcard(u"", u"a"));
}

TEST_F(EntryListModelTest, EverySortAgreesWithItsComparatorAndKeepsTiesInListOrder) {
    // Long shared prefixes, names ending inside others and at the sort's sixteen-byte steps,
    // letter case, high bytes, equal keys, added rows among stored ones.
    const std::string prefix = "data\\texture\\\xC0\xAF\xC0\xFA\xC0\xCE\xC5\xCD\xC6\xE4\xC0\xCC\xBD\xBA\\";
    uint32_t seed = 7;
    const auto next = [&seed] { return seed = seed * 1103515245 + 12345, seed >> 16; };
    static const char* const tails[] = {"a", "A", "ab", "aB_", "_", "b.bmp", "B.BMP", "\xB0\xA1", "z", "", "a\\x"};
    for (int i = 0; i < 300; ++i) {
        std::string name = (i % 3 == 0 ? prefix : "data\\") + tails[next() % 11];
        for (uint32_t k = next() % 3; k > 0; --k) {
            name += tails[next() % 11];
        }
        if (i % 5 == 0) {
            add(name, next() % 4);
        } else {
            store(name, next() % 4, next() % 4, next() % 7 == 0 ? 0xFFFFFFFFu : next());
        }
    }
    for (const char* name : {"data\\abcdefghijkl", "data\\abcdefghijk", "data\\ABCDEFGHIJK", "data\\abcdefghijk\\",
                             "data\\abcdefghijk\\0123456789abcde", "data\\abcdefghijk\\0123456789abcd"}) {
        store(name);
    }
    for (const ListColumn column :
         {ListColumn::NAME, ListColumn::COMPRESSED_SIZE, ListColumn::ORIGINAL_SIZE, ListColumn::OFFSET}) {
        for (const bool ascending : {true, false}) {
            SCOPED_TRACE(testing::Message() << "column " << int(column) << " ascending " << ascending);
            std::vector<uint32_t> rows = allRows();
            sortRows(archive, rows, column, ascending);
            ASSERT_EQ(rows.size(), 306u);
            for (size_t i = 1; i < rows.size(); ++i) {
                const int order = compareRows(archive, rows[i - 1], rows[i], column, ascending);
                ASSERT_LE(order, 0) << "rows " << i - 1 << ", " << i;
                if (order == 0) {
                    ASSERT_EQ(rows[i - 1] < rows[i], ascending) << "tie at rows " << i - 1 << ", " << i;
                }
            }
        }
    }
}

TEST_F(EntryListModelTest, NumberColumnsPutStoredRowsFirstAndNamesFoldOnlyAsciiLetters) {
    store("data\\b.txt", 30);
    store("data\\_x.txt", 10);
    store("DATA\\B.TXT", 20);
    add("data\\a.txt", 1);
    std::vector<uint32_t> rows = allRows();
    sortRows(archive, rows, ListColumn::COMPRESSED_SIZE, true);
    EXPECT_EQ(rows, (std::vector<uint32_t>{1, 2, 0, 3}));
    sortRows(archive, rows, ListColumn::COMPRESSED_SIZE, false);
    EXPECT_EQ(rows, (std::vector<uint32_t>{3, 0, 2, 1}));
    sortRows(archive, rows, ListColumn::NAME, true);
    EXPECT_EQ(namesOf(rows), (std::vector<std::string>{"data\\_x.txt", "data\\a.txt", "data\\b.txt", "DATA\\B.TXT"}));
    EXPECT_EQ(compareRows(archive, 0, 2, ListColumn::NAME, true), 0);
}

}  // namespace
