// The entry list: rows from the filter, cell texts, sorting, renaming and the filter box's keys.
#include <gtest/gtest.h>

#include "archive/model/archive.h"
#include "platform/code_page.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_harness.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/wide.h"

namespace {

GrfEntry* addPending(GrfArchive& archive, const std::string& name, uint32_t size) {
    return archive.addFile(name, u"C:\\nowhere\\file", size);
}

class EntryListTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        platform::setAnsiCodePage(platform::CODE_PAGE_WESTERN);
    }

    // Stored rows in table order, then the added ones.
    void openWith(std::initializer_list<const char*> stored, std::initializer_list<const char*> added = {}) {
        TestArchive writer;
        for (const char* name : stored) {
            writer.add(name, name);
        }
        openArchive(writer.writeTo(dir));
        for (const char* name : added) {
            addPending(*app.currentArchive, name, 7);
        }
        applyFilter();
    }

    LRESULT endLabelEdit(int row, const wchar_t* newText) {
        NMLVDISPINFOW info{};
        info.hdr.hwndFrom = item(IDC_ENTRY_LIST);
        info.hdr.idFrom = IDC_ENTRY_LIST;
        info.hdr.code = LVN_ENDLABELEDITW;
        info.item.iItem = row;
        info.item.pszText = const_cast<wchar_t*>(newText);
        const LRESULT handled = SendMessageW(dialog, WM_NOTIFY, IDC_ENTRY_LIST, reinterpret_cast<LPARAM>(&info));
        EXPECT_EQ(GetWindowLongPtrW(dialog, DWLP_MSGRESULT), handled);
        return handled;
    }

    TempDir dir;
};

TEST_F(EntryListTest, FilterFoldsAsciiCaseAndTakesWildcards) {
    openWith({"data\\Alpha.txt", "data\\beta.txt", "data\\gamma.TXT"}, {"data\\alpha2.txt"});
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"data\\Alpha.txt", L"data\\beta.txt", L"data\\gamma.TXT",
                                                  L"data\\alpha2.txt"}));
    EXPECT_EQ(statusText(), L"显示 4 个文件 / 添加 1 个文件 / 总共 4 个文件");

    const struct { const wchar_t* filter; std::vector<std::wstring> rows; } cases[] = {
        {L"alpha", {L"data\\Alpha.txt", L"data\\alpha2.txt"}},
        {L"ALPHA2", {L"data\\alpha2.txt"}},
        {L".txt", {L"data\\Alpha.txt", L"data\\beta.txt", L"data\\gamma.TXT", L"data\\alpha2.txt"}},
        {L"*a.txt", {L"data\\Alpha.txt", L"data\\beta.txt", L"data\\gamma.TXT"}},
        {L"data\\?????.txt", {L"data\\Alpha.txt", L"data\\gamma.TXT"}},
        {L"alpha*", {}},
        {L"", {L"data\\Alpha.txt", L"data\\beta.txt", L"data\\gamma.TXT", L"data\\alpha2.txt"}},
    };
    int shownBefore = rowCount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        typeFilter(c.filter);
        EXPECT_EQ(rowCount(), shownBefore) << "typing alone does not filter";
        shownBefore = static_cast<int>(c.rows.size());
        pressEnterInFilter();
        EXPECT_EQ(names(), c.rows);
        EXPECT_EQ(statusText(), L"显示 " + std::to_wstring(c.rows.size()) + L" 个文件 / 添加 1 个文件 / 总共 4 个文件");
    }

    // The filter text outlives the archive and applies to the next one.
    typeFilter(L"beta");
    SendMessageW(item(IDC_KOREAN_NAMES), BM_SETCHECK, BST_UNCHECKED, 0);
    seamLog.boxAnswers.push_back(IDNO);
    click(IDC_CLOSE);
    EXPECT_EQ(text(item(IDC_FILTER)), L"beta");
    EXPECT_FALSE(IsWindowEnabled(item(IDC_FILTER)));
    openWith({"data\\beta.txt", "data\\other.txt"});
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"data\\beta.txt"}));
}

TEST_F(EntryListTest, NameFormCheckBoxRedrawsWithoutRefiltering) {
    // B5 A5 reads as two Latin-1 characters in the western code page and as one Hangul syllable in 949.
    openWith({"data\\\xB5\xA5.txt", "data\\plain.txt"});
    EXPECT_EQ(cell(0, 0), L"data\\\u00B5\u00A5.txt");
    typeFilter(L"plain");
    SendMessageW(item(IDC_KOREAN_NAMES), BM_SETCHECK, BST_CHECKED, 0);
    click(IDC_KOREAN_NAMES);
    EXPECT_EQ(rowCount(), 2);
    EXPECT_EQ(cell(0, 0), L"data\\\uB370.txt");
    typeFilter(L"\uB370");
    pressEnterInFilter();
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"data\\\uB370.txt"}));
}

TEST_F(EntryListTest, CellsShowSizesPositionsAndImagesByRowKind) {
    openWith({"data\\a.txt", "data\\b.txt"}, {"data\\new.txt", "data\\gone.txt"});
    GrfArchive& archive = *app.currentArchive;
    archive.markDeleted(*archive.pendingEntries()[1]);
    archive.markDeleted(*archive.storedEntries()[1]);
    const GrfEntry& stored = *archive.storedEntries()[1];
    const struct { int row; std::wstring compressed, original, position; int image; } rows[] = {
        {0, std::to_wstring(archive.storedEntries()[0]->compressedSize()), std::to_wstring(archive.storedEntries()[0]->originalSize()),
         std::to_wstring(archive.storedEntries()[0]->offset()), 0},
        {1, std::to_wstring(stored.compressedSize()), std::to_wstring(stored.originalSize()),
         std::to_wstring(stored.offset()), 2},
        {2, L"N/A", L"7", L"N/A", 1},
        {3, L"N/A", L"7", L"N/A", 2},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        EXPECT_EQ(cell(r.row, 1), r.compressed);
        EXPECT_EQ(cell(r.row, 2), r.original);
        EXPECT_EQ(cell(r.row, 3), r.position);
        EXPECT_EQ(rowImage(r.row), r.image);
    }
    EXPECT_EQ(archive.storedEntries()[0]->offset(), 46u) << "positions are absolute";
}

TEST_F(EntryListTest, CellTextIsCutToTheListsBuffer) {
    openWith({"data\\a-rather-long-name.txt"});
    const struct { int capacity; const wchar_t* expected; } cases[] = {{5, L"data"}, {1, L""}, {0, L"untouched"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.capacity);
        wchar_t buffer[16];
        wcscpy(buffer, L"untouched");
        NMLVDISPINFOW request{};
        request.hdr.code = LVN_GETDISPINFOW;
        request.hdr.idFrom = IDC_ENTRY_LIST;
        request.item.mask = LVIF_TEXT;
        request.item.pszText = buffer;
        request.item.cchTextMax = c.capacity;
        EXPECT_EQ(onEntryListNotify(&request.hdr), 1);
        EXPECT_STREQ(buffer, c.expected);
    }
}

TEST_F(EntryListTest, HeaderClicksSortAndEnterRestoresListOrder) {
    openWith({"data\\b.txt", "data\\_x.txt", "data\\A.txt", "data\\c.txt"}, {"data\\z.txt", "data\\y.txt"});
    GrfArchive& archive = *app.currentArchive;
    const uint32_t compressed[] = {30, 10, 20, 10};
    for (size_t i = 0; i < 4; ++i) {
        GrfEntry& entry = *archive.storedEntries()[i];
        entry.placeData(entry.originalSize(), compressed[i], entry.offset());
    }
    // Added rows order among themselves by the field too.
    archive.pendingEntries()[0]->placeData(7, 5, 0);
    archive.pendingEntries()[1]->placeData(7, 1, 0);

    clickHeader(0);  // the state starts on this column, ascending: the first click descends
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"data\\z.txt", L"data\\y.txt", L"data\\c.txt", L"data\\b.txt",
                                                  L"data\\A.txt", L"data\\_x.txt"}));
    clickHeader(0);
    EXPECT_EQ(names().front(), L"data\\_x.txt") << "an underscore sorts before letters compared in lower case";

    clickHeader(1);
    std::vector<std::wstring> shown;
    for (int row = 0; row < rowCount(); ++row) {
        shown.push_back(cell(row, 1));
    }
    EXPECT_EQ(shown, (std::vector<std::wstring>{L"10", L"10", L"20", L"30", L"N/A", L"N/A"}));
    EXPECT_EQ(names()[4], L"data\\y.txt");
    clickHeader(1);
    // Descending: added rows first, larger values first; the two rows of 10 may come in either order.
    const std::vector<std::wstring> descending = names();
    ASSERT_EQ(descending.size(), 6u);
    EXPECT_EQ(std::vector<std::wstring>(descending.begin(), descending.begin() + 4),
              (std::vector<std::wstring>{L"data\\z.txt", L"data\\y.txt", L"data\\b.txt", L"data\\A.txt"}));
    EXPECT_EQ(cell(4, 1), L"10");
    EXPECT_EQ(cell(5, 1), L"10");

    pressEnterInFilter();
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"data\\b.txt", L"data\\_x.txt", L"data\\A.txt", L"data\\c.txt",
                                                  L"data\\z.txt", L"data\\y.txt"}));
    clickHeader(1);  // the state survived the filter: this click turns the order once more
    EXPECT_EQ(cell(0, 1), L"10");
}

TEST_F(EntryListTest, NamesDifferingOnlyInLetterCaseCompareEqual) {
    openWith({"data\\Same.txt", "data\\a.txt"}, {"DATA\\SAME.TXT2"});
    const uint32_t rows[] = {0, 2};
    EXPECT_EQ(compareByNameAscending(&rows[0], &rows[1]) < 0, true) << "a prefix sorts first";
    GrfEntry* const renamed = app.currentArchive->pendingEntries()[0].get();
    renamed->setName("DATA\\SAME.TXT");
    EXPECT_EQ(compareByNameAscending(&rows[0], &rows[1]), 0);
    EXPECT_EQ(compareByNameDescending(&rows[0], &rows[1]), 0);
    const uint32_t storedThenAdded[] = {1, 2};
    EXPECT_LT(compareByOffsetAscending(&storedThenAdded[0], &storedThenAdded[1]), 0);
    EXPECT_GT(compareByOffsetDescending(&storedThenAdded[0], &storedThenAdded[1]), 0);
}

TEST_F(EntryListTest, EverySortAgreesWithItsComparator) {
    openWith({});
    GrfArchive& archive = *app.currentArchive;
    // Long shared prefixes, names ending inside others, letter case, high bytes, equal keys.
    const std::string prefix = "data\\texture\\\xC0\xAF\xC0\xFA\xC0\xCE\xC5\xCD\xC6\xE4\xC0\xCC\xBD\xBA\\";
    uint32_t seed = 99;
    const auto next = [&seed] { return seed = seed * 1103515245 + 12345, seed >> 16; };
    static const char* const tails[] = {"a", "A", "ab", "aB_", "_", "b.bmp", "B.BMP", "\xB0\xA1", "z", "", "a\\x"};
    for (int i = 0; i < 400; ++i) {
        std::string name = (i % 3 == 0 ? prefix : "data\\") + tails[next() % 11];
        for (uint32_t k = next() % 4; k > 0; --k) {
            name += tails[next() % 11];
        }
        EntryRecord record;
        record.name = name;
        record.compressedSize = next() % 5;
        record.originalSize = next() % 5;
        record.offset = next() % 5 == 0 ? 0xFFFFFFFFu : next();
        archive.adoptEntry(std::make_unique<GrfEntry>(&archive, record, i % 4 == 0 ? ENTRY_ADDED : ENTRY_STORED));
    }
    // Names that end exactly where the sort's sixteen-byte steps do, beside longer namesakes.
    for (const char* name : {"data\\abcdefghijkl", "data\\abcdefghijk", "data\\ABCDEFGHIJK", "data\\abcdefghijk\\",
                             "data\\abcdefghijk\\0123456789abcde", "data\\abcdefghijk\\0123456789abcd"}) {
        auto entry = std::make_unique<GrfEntry>(&archive, ENTRY_STORED);
        entry->setName(name);
        archive.adoptEntry(std::move(entry));
    }
    applyFilter();
    using Comparator = int (*)(const void*, const void*);
    const Comparator ascending[] = {compareByNameAscending, compareByCompressedSizeAscending,
                                    compareByOriginalSizeAscending, compareByOffsetAscending};
    const Comparator descending[] = {compareByNameDescending, compareByCompressedSizeDescending,
                                     compareByOriginalSizeDescending, compareByOffsetDescending};
    for (const int column : {0, 0, 1, 1, 2, 2, 3, 3}) {
        sortByColumn(column);
        const Comparator compare = app.sortDirection > 0 ? ascending[column] : descending[column];
        SCOPED_TRACE(testing::Message() << "column " << column << " direction " << app.sortDirection);
        ASSERT_EQ(app.visibleEntries.size(), 406u);
        for (size_t row = 1; row < app.visibleEntries.size(); ++row) {
            ASSERT_LE(compare(&app.visibleEntries[row - 1], &app.visibleEntries[row]), 0) << "rows " << row - 1 << ", " << row;
        }
    }
}

TEST_F(EntryListTest, RenameRefusesTakenUnencodableAndOverlongNames) {
    openWith({"data\\a.txt", "data\\b.txt"});
    // A pending entry as an unmodified archive would hold it.
    auto pending = std::make_unique<GrfEntry>(app.currentArchive.get(), ENTRY_ADDED);
    pending->setName("data\\c.txt");
    app.currentArchive->adoptEntry(std::move(pending));
    applyFilter();
    refreshTitle();
    const std::wstring unmodifiedTitle = title();
    const struct { const char* what; std::wstring name; } refused[] = {
        {"taken by a stored entry, case aside", L"DATA\\B.TXT"},
        {"taken by an added entry", L"data\\c.txt"},
        {"a character the code page lacks", L"data\\\u4E2D.txt"},
        {"more than 259 bytes", L"data\\" + std::wstring(255, L'x')},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.what);
        seamLog.boxes.clear();
        EXPECT_EQ(endLabelEdit(0, r.name.c_str()), 0);
        ASSERT_EQ(seamLog.boxes.size(), 1u);
        EXPECT_EQ(seamLog.boxes[0].text, L"此文件名已存在，无法修改！");
        EXPECT_EQ(seamLog.boxes[0].caption, L"修改文件名");
        EXPECT_EQ(seamLog.boxes[0].type, static_cast<UINT>(MB_ICONWARNING));
        EXPECT_EQ(cell(0, 0), L"data\\a.txt");
    }
    EXPECT_FALSE(app.currentArchive->isModified());
    seamLog.boxes.clear();
    const std::wstring longest = L"data\\" + std::wstring(254, L'y');  // 259 bytes exactly
    EXPECT_EQ(endLabelEdit(2, longest.c_str()), 1);
    EXPECT_EQ(cell(2, 0), longest);
    EXPECT_EQ(endLabelEdit(0, L"data\\renamed.txt"), 1);
    EXPECT_EQ(cell(0, 0), L"data\\renamed.txt");
    EXPECT_EQ(app.currentArchive->storedEntries()[0]->name(), "data\\renamed.txt");
    EXPECT_EQ(title(), unmodifiedTitle + L"*");
    EXPECT_TRUE(seamLog.boxes.empty());
    EXPECT_EQ(rowCount(), 3) << "a rename does not filter again";

    NMLVDISPINFOW cancelled{};
    cancelled.hdr.code = LVN_ENDLABELEDITW;
    cancelled.hdr.idFrom = IDC_ENTRY_LIST;
    cancelled.item.iItem = 1;
    EXPECT_EQ(onEntryListNotify(&cancelled.hdr), 0);
    EXPECT_EQ(cell(1, 0), L"data\\b.txt");
    EXPECT_TRUE(seamLog.boxes.empty());
}

TEST_F(EntryListTest, FilterBoxKeepsItsEditingKeys) {
    openWith({"data\\a.txt", "data\\b.txt"});
    const HWND box = item(IDC_FILTER);
    SetFocus(box);
    typeFilter(L"ab");
    SendMessageW(box, EM_SETSEL, 2, 2);
    SendMessageW(box, WM_KEYDOWN, VK_HOME, 0);
    DWORD start = 0;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    EXPECT_EQ(start, 0u) << "Home moves the caret";
    SendMessageW(box, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(text(box), L"b") << "Delete removes the character after the caret";
    SendMessageW(box, WM_CHAR, L'.', 0);
    EXPECT_EQ(text(box), L".b");
    typeFilter(L"b.");
    SendMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
    SendMessageW(box, WM_CHAR, L'\r', 0);
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"data\\b.txt"}));
    EXPECT_EQ(text(box), L"b.");
}

}  // namespace
