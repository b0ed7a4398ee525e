// The main dialog's commands and states, driven in-process with the pickers and boxes answered.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "archive/model/archive.h"
#include "archive/base/result_codes.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_harness.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/wide.h"
#include "worker/task_args.h"

namespace {

constexpr int BUTTONS[] = {IDC_NEW, IDC_OPEN, IDC_CLOSE, IDC_EXIT, IDC_EXTRACT_SELECTED, IDC_EXTRACT_ALL,
                           IDC_ADD_DIRECTORY, IDC_ADD_ARCHIVE, IDC_DELETE_SELECTED, IDC_RECOMPRESS};

std::wstring wide(const std::u16string& text) {
    return asWide(text);
}

// A pending entry as adding would leave it, without running a task.
GrfEntry* addPending(GrfArchive& archive, const std::string& name, uint32_t size) {
    return archive.addFile(name, u"C:\\nowhere\\file", size);
}

class MainDialogTest : public UiTest {
protected:
    void openSample() {
        path = TestArchive().add("data\\a.txt", "alpha").add("data\\b.txt", "bravo bravo").writeTo(dir);
        openArchive(path);
    }

    TempDir dir;
    std::u16string path;
};

TEST_F(MainDialogTest, StartsEmptyWithTheTemplateTextsAndDefaults) {
    EXPECT_EQ(title(), L"Quarnel v2");
    EXPECT_EQ(statusText(), L"就绪");
    const struct { int id; const wchar_t* text; } texts[] = {
        {IDC_NEW, L"新建"}, {IDC_OPEN, L"打开"}, {IDC_CLOSE, L"关闭"}, {IDC_EXIT, L"退出"},
        {IDC_EXTRACT_SELECTED, L"提取选定"}, {IDC_EXTRACT_ALL, L"提取全部"}, {IDC_ADD_DIRECTORY, L"添加目录"},
        {IDC_ADD_ARCHIVE, L"添加Grf"}, {IDC_DELETE_SELECTED, L"删除选定"}, {IDC_RECOMPRESS, L"重新压缩"},
        {IDC_KOREAN_NAMES, L"使用Unicode编码"}, {IDC_KEEP_DIRS, L"提取时保持目录结构"},
    };
    for (const auto& expected : texts) {
        EXPECT_EQ(text(item(expected.id)), expected.text) << expected.id;
    }
    const HWND levels = item(IDC_LEVEL);
    ASSERT_EQ(SendMessageW(levels, CB_GETCOUNT, 0, 0), 10);
    const wchar_t* const levelTexts[] = {L"0 - 不压缩", L"1 - 最快速度", L"2", L"3", L"4", L"5",
                                         L"6 - 默认压缩率", L"7", L"8", L"9 - 最大压缩率"};
    for (int i = 0; i < 10; ++i) {
        wchar_t buffer[64] = {};
        SendMessageW(levels, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
        EXPECT_STREQ(buffer, levelTexts[i]);
    }
    EXPECT_EQ(SendMessageW(levels, CB_GETCURSEL, 0, 0), 6);
    EXPECT_EQ(SendMessageW(item(IDC_KEEP_DIRS), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(item(IDC_KOREAN_NAMES), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    const LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    EXPECT_NE(GetClassLongPtrW(dialog, GCLP_HICON), 0);

    const HWND list = item(IDC_ENTRY_LIST);
    EXPECT_TRUE(GetWindowLongPtrW(list, GWL_STYLE) & LVS_OWNERDATA);
    EXPECT_EQ(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & 0x10121, 0x10121);
    const struct { const wchar_t* header; int width; int format; } columns[] = {
        {L"文件名", 460, LVCFMT_LEFT}, {L"压缩长度", 72, LVCFMT_RIGHT}, {L"原始长度", 72, LVCFMT_RIGHT},
        {L"位置", 72, LVCFMT_RIGHT}};
    for (int c = 0; c < 4; ++c) {
        wchar_t header[32] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = header;
        column.cchTextMax = 32;
        ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(header, columns[c].header);
        EXPECT_EQ(column.cx, columns[c].width);
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, columns[c].format);
    }
    const HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    EXPECT_EQ(ImageList_GetImageCount(images), 3);
    int side = 0;
    int sideAgain = 0;
    ImageList_GetIconSize(images, &side, &sideAgain);
    EXPECT_EQ(side, 16);
}

// At 144 DPI (150 % scaling) each header fits its column in the dialog's font at that DPI, and
// the row pictures are 24 pixels; back at 96 the list is as it started.
TEST_F(MainDialogTest, ListFollowsTheWindowToAnotherDpi) {
    const HWND list = item(IDC_ENTRY_LIST);
    const auto changeDpi = [&](UINT dpi) {
        RECT bounds;
        GetWindowRect(dialog, &bounds);
        SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&bounds));
    };
    const auto iconSide = [&] {
        int side = 0;
        int sideAgain = 0;
        ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0)),
                              &side, &sideAgain);
        return side;
    };
    const wchar_t* const headers[] = {L"文件名", L"压缩长度", L"原始长度", L"位置"};
    const int startWidths[] = {460, 72, 72, 72};

    changeDpi(144);
    EXPECT_EQ(iconSide(), 24);
    LOGFONTW face{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(face), &face);
    face.lfHeight = MulDiv(face.lfHeight, 144, 96);
    const HFONT font = CreateFontIndirectW(&face);
    const HDC dc = GetDC(list);
    const HGDIOBJ previous = SelectObject(dc, font);
    for (int c = 0; c < 4; ++c) {
        SIZE extent{};
        GetTextExtentPoint32W(dc, headers[c], static_cast<int>(wcslen(headers[c])), &extent);
        const int width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0));
        // The header draws its text between margins of about 6 pixels each side at 96 DPI.
        EXPECT_GE(width, extent.cx + 18) << c;
        EXPECT_GE(width, startWidths[c] * 3 / 2) << c;
    }
    SelectObject(dc, previous);
    ReleaseDC(list, dc);
    DeleteObject(font);

    changeDpi(96);
    EXPECT_EQ(iconSide(), 16);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0), startWidths[c]) << c;
    }
}

// Reads a DLGTEMPLATEEX: the dialog's own fields, then one record per control.
class TemplateReader {
public:
    explicit TemplateReader(const uint8_t* bytes) : cursor(bytes), start(bytes) {}
    uint16_t word() { uint16_t v; std::memcpy(&v, cursor, 2); cursor += 2; return v; }
    uint32_t dword() { uint32_t v; std::memcpy(&v, cursor, 4); cursor += 4; return v; }
    uint8_t byte() { return *cursor++; }
    int16_t coordinate() { return static_cast<int16_t>(word()); }
    std::wstring text() {
        std::wstring result;
        for (uint16_t c = word(); c != 0; c = word()) result += static_cast<wchar_t>(c);
        return result;
    }
    // A string, or an ordinal shown as "#n" (the predefined classes use 0x80 to 0x85).
    std::wstring nameOrOrdinal() {
        const uint16_t first = word();
        if (first == 0xFFFF) {
            static const wchar_t* const predefined[] = {L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar", L"ComboBox"};
            const uint16_t ordinal = word();
            return ordinal >= 0x80 && ordinal <= 0x85 ? predefined[ordinal - 0x80] : L"#" + std::to_wstring(ordinal);
        }
        cursor -= 2;
        return text();
    }
    void alignToDword() { cursor = start + ((cursor - start + 3) & ~size_t(3)); }
    void skip(size_t bytes) { cursor += bytes; }

private:
    const uint8_t* cursor;
    const uint8_t* start;
};

TEST(DialogTemplate, HoldsEveryControlAtItsPlace) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDD_MAIN), MAKEINTRESOURCEW(5));  // RT_DIALOG
    ASSERT_NE(found, nullptr);
    TemplateReader in(static_cast<const uint8_t*>(LockResource(LoadResource(module, found))));
    ASSERT_EQ(in.word(), 1);
    ASSERT_EQ(in.word(), 0xFFFF);
    in.dword();
    EXPECT_EQ(in.dword(), 0u) << "extended style";
    EXPECT_EQ(in.dword(), 0x80CA0840u) << "style";
    const uint16_t count = in.word();
    EXPECT_EQ(in.coordinate(), 0);
    EXPECT_EQ(in.coordinate(), 0);
    EXPECT_EQ(in.coordinate(), 481);
    EXPECT_EQ(in.coordinate(), 281);
    EXPECT_EQ(in.nameOrOrdinal(), L"") << "menu";
    EXPECT_EQ(in.nameOrOrdinal(), L"") << "class";
    EXPECT_EQ(in.text(), L"Quarnel v2");
    EXPECT_EQ(in.word(), 9) << "points";
    in.word();
    in.byte();  // italic
    EXPECT_EQ(in.byte(), 0x86) << "GB2312 character set";
    EXPECT_EQ(in.text(), L"宋体");

    const struct { int id; const wchar_t* cls; const wchar_t* text; uint32_t style; int x, y, w, h; } controls[] = {
        {IDC_ENTRY_LIST, L"SysListView32", L"", 0x50811A89, 7, 7, 467, 222},
        {IDC_NEW, L"Button", L"新建", 0x50010000, 7, 232, 50, 14},
        {IDC_OPEN, L"Button", L"打开", 0x50010000, 7, 248, 50, 14},
        {IDC_CLOSE, L"Button", L"关闭", 0x50010000, 59, 232, 50, 14},
        {IDC_EXIT, L"Button", L"退出", 0x50010000, 59, 248, 50, 14},
        {IDC_EXTRACT_SELECTED, L"Button", L"提取选定", 0x50010000, 111, 232, 50, 14},
        {IDC_EXTRACT_ALL, L"Button", L"提取全部", 0x50010000, 111, 248, 50, 14},
        {IDC_ADD_DIRECTORY, L"Button", L"添加目录", 0x50010000, 163, 232, 50, 14},
        {IDC_ADD_ARCHIVE, L"Button", L"添加Grf", 0x50010000, 163, 248, 50, 14},
        {IDC_DELETE_SELECTED, L"Button", L"删除选定", 0x50010000, 215, 232, 50, 14},
        {IDC_RECOMPRESS, L"Button", L"重新压缩", 0x50010000, 215, 248, 50, 14},
        {-1, L"Static", L"压缩率:", 0x50020000, 272, 234, 29, 8},
        {IDC_LEVEL, L"ComboBox", L"", 0x50210103, 303, 232, 73, 29},
        {-1, L"Static", L"过滤:", 0x50020000, 380, 234, 21, 8},
        {IDC_FILTER, L"Edit", L"", 0x50810080, 405, 232, 69, 14},
        {IDC_KOREAN_NAMES, L"Button", L"使用Unicode编码", 0x50010003, 272, 250, 71, 10},
        {IDC_STATUS, L"Static", L"就绪", 0x50020000, 7, 266, 257, 8},
        {IDC_PROGRESS, L"msctls_progress32", L"", 0x50800000, 272, 264, 202, 10},
        {IDC_KEEP_DIRS, L"Button", L"提取时保持目录结构", 0x50010003, 356, 250, 88, 10},
    };
    ASSERT_EQ(count, std::size(controls));
    for (const auto& expected : controls) {
        SCOPED_TRACE(expected.id);
        in.alignToDword();
        in.dword();
        EXPECT_EQ(in.dword(), 0u) << "extended style";
        EXPECT_EQ(in.dword(), expected.style);
        EXPECT_EQ(in.coordinate(), expected.x);
        EXPECT_EQ(in.coordinate(), expected.y);
        EXPECT_EQ(in.coordinate(), expected.w);
        EXPECT_EQ(in.coordinate(), expected.h);
        EXPECT_EQ(static_cast<int32_t>(in.dword()), expected.id);
        EXPECT_EQ(_wcsicmp(in.nameOrOrdinal().c_str(), expected.cls), 0) << "class";
        EXPECT_EQ(in.nameOrOrdinal(), expected.text);
        in.skip(in.word());
    }

    // The program's icon and each row picture are drawn at the small and large icon sizes of 100 %
    // to 300 % scaling, 32 bits per pixel, so no display gets one stretched.
    for (const int id : {IDI_MAIN, IDI_ENTRY_STORED, IDI_ENTRY_ADDED, IDI_ENTRY_DELETED}) {
        const HRSRC icons = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
        ASSERT_NE(icons, nullptr) << id;
        // A GRPICONDIR: three words, then 14 bytes for each image (width, height, ..., bit count at 6).
        const auto* group = static_cast<const uint8_t*>(LockResource(LoadResource(module, icons)));
        uint16_t count = 0;
        std::memcpy(&count, group + 4, 2);
        std::vector<int> sides;
        for (uint16_t i = 0; i < count; ++i) {
            const uint8_t* const image = group + 6 + 14 * i;
            uint16_t bits = 0;
            std::memcpy(&bits, image + 6, 2);
            EXPECT_EQ(image[0], image[1]) << id;
            EXPECT_EQ(bits, 32) << id;
            sides.push_back(image[0]);
        }
        EXPECT_EQ(sides, (std::vector<int>{16, 20, 24, 32, 40, 48})) << id;
    }
}

TEST_F(MainDialogTest, EnablesControlsByState) {
    const struct { int id; bool noArchive; bool open; bool busy; } table[] = {
        {IDC_NEW, true, false, false}, {IDC_OPEN, true, false, false}, {IDC_CLOSE, false, true, false},
        {IDC_EXIT, true, true, false}, {IDC_EXTRACT_SELECTED, false, true, false},
        {IDC_EXTRACT_ALL, false, true, false}, {IDC_ADD_DIRECTORY, false, true, false},
        {IDC_ADD_ARCHIVE, false, true, false}, {IDC_DELETE_SELECTED, false, true, false},
        {IDC_RECOMPRESS, false, true, false}, {IDC_LEVEL, true, true, false}, {IDC_FILTER, false, true, false},
        {IDC_KOREAN_NAMES, true, true, false}, {IDC_KEEP_DIRS, true, true, false},
        {IDC_ENTRY_LIST, true, true, true},
    };
    for (const int state : {UI_NO_ARCHIVE, UI_ARCHIVE_OPEN, UI_BUSY, UI_NO_ARCHIVE}) {
        setUiState(state);
        SCOPED_TRACE(state);
        EXPECT_EQ(app.uiState, state);
        for (const auto& row : table) {
            const bool expected = state == UI_NO_ARCHIVE ? row.noArchive : state == UI_ARCHIVE_OPEN ? row.open : row.busy;
            EXPECT_EQ(IsWindowEnabled(item(row.id)) != FALSE, expected) << row.id;
        }
        const bool editable = (GetWindowLongPtrW(item(IDC_ENTRY_LIST), GWL_STYLE) & LVS_EDITLABELS) != 0;
        EXPECT_EQ(editable, state != UI_BUSY);
    }
}

TEST_F(MainDialogTest, NewAndOpenAskWithTheirPickersAndShowTheArchive) {
    const std::u16string created = dir.file(u"new.grf");
    seamLog.fileAnswers.push_back(wide(created));
    click(IDC_NEW);
    ASSERT_EQ(seamLog.fileAsks.size(), 1u);
    const auto& ask = seamLog.fileAsks[0];
    EXPECT_TRUE(ask.save);
    EXPECT_EQ(ask.filter, L"GRF文件(*.grf;*.gpf)|*.grf;*.gpf");
    EXPECT_EQ(ask.title, L"请选择要新建的GRF文件");
    EXPECT_EQ(ask.flags, 0x20006u);
    EXPECT_EQ(ask.defaultExtension, L"grf");
    EXPECT_EQ(ask.initialFile, L"");
    ASSERT_NE(app.currentArchive, nullptr);
    EXPECT_EQ(app.uiState, UI_ARCHIVE_OPEN);
    EXPECT_EQ(title(), L"Quarnel v2 - " + wide(created));
    EXPECT_EQ(statusText(), L"显示 0 个文件 / 添加 0 个文件 / 总共 0 个文件");

    click(IDC_CLOSE);
    EXPECT_EQ(app.currentArchive, nullptr);
    EXPECT_TRUE(seamLog.boxes.empty()) << "an unmodified archive closes without asking";

    openSample();
    const auto& openAsk = seamLog.fileAsks.back();
    EXPECT_FALSE(openAsk.save);
    EXPECT_EQ(openAsk.filter, L"GRF文件(*.grf;*.gpf)|*.grf;*.gpf|所有文件(*.*)|*.*");
    EXPECT_EQ(openAsk.title, L"请选择要打开的GRF文件");
    EXPECT_EQ(openAsk.flags, 0x21804u);
    EXPECT_EQ(openAsk.defaultExtension, L"grf");
    EXPECT_EQ(rowCount(), 2);
    EXPECT_EQ(statusText(), L"显示 2 个文件 / 添加 0 个文件 / 总共 2 个文件");
    EXPECT_EQ(title(), L"Quarnel v2 - " + wide(path));
}

TEST_F(MainDialogTest, FailedOrCancelledOpenLeavesTheWindowAsItWas) {
    const std::string notArchive = dir.native(u"plain.grf");
    std::ofstream(notArchive, std::ios::binary) << "this is not an archive at all, just some text";
    seamLog.fileAnswers.push_back(wide(dir.file(u"plain.grf")));
    click(IDC_OPEN);
    seamLog.fileAnswers.push_back(L"");  // cancel
    click(IDC_OPEN);
    seamLog.fileAnswers.push_back(wide(dir.file(u"missing\\dir\\new.grf")));
    click(IDC_NEW);
    EXPECT_EQ(seamLog.fileAsks.size(), 3u);
    EXPECT_EQ(app.currentArchive, nullptr);
    EXPECT_EQ(app.uiState, UI_NO_ARCHIVE);
    EXPECT_EQ(title(), L"Quarnel v2");
    EXPECT_EQ(statusText(), L"就绪");
    // A failed Open or New says why under "错误"; a cancelled one says nothing.
    EXPECT_FALSE(seamLog.boxes.empty());
    for (const auto& box : seamLog.boxes) EXPECT_EQ(box.caption, L"错误");
    EXPECT_TRUE(IsWindowEnabled(item(IDC_OPEN)));
}

TEST_F(MainDialogTest, ClosingAModifiedArchiveFollowsTheAnswer) {
    openSample();
    addPending(*app.currentArchive, "data\\new.txt", 3);

    seamLog.boxAnswers.push_back(IDCANCEL);
    click(IDC_CLOSE);
    ASSERT_EQ(seamLog.boxes.size(), 1u);
    EXPECT_EQ(seamLog.boxes[0].text, L"文件已修改，是否需要保存修改？");
    EXPECT_EQ(seamLog.boxes[0].caption, L"关闭文件");
    EXPECT_EQ(seamLog.boxes[0].type, static_cast<UINT>(MB_ICONQUESTION | MB_YESNOCANCEL));
    EXPECT_NE(app.currentArchive, nullptr);
    EXPECT_EQ(app.uiState, UI_ARCHIVE_OPEN);
    EXPECT_EQ(takeHandedOverTask(), 0u);

    SendMessageW(item(IDC_LEVEL), CB_SETCURSEL, 9, 0);
    SendMessageW(item(IDC_KOREAN_NAMES), BM_SETCHECK, BST_CHECKED, 0);
    seamLog.boxAnswers.push_back(IDYES);
    click(IDC_CLOSE);
    std::unique_ptr<TaskArgs> record;
    ASSERT_EQ(takeHandedOverTask(&record), static_cast<uint32_t>(TASK_SAVE));
    auto* const save = static_cast<SaveArgs*>(record.get());
    EXPECT_EQ(save->archive, app.currentArchive.get());
    EXPECT_EQ(save->level, 9);
    EXPECT_EQ(save->useKoreanNames, 1);
    record.reset();
    EXPECT_EQ(app.uiState, UI_BUSY) << "busy from the hand-over on";
    EXPECT_FALSE(IsWindowEnabled(item(IDC_CLOSE)));

    // The save's end closes the archive whatever its result.
    sendFinished(TASK_SAVE, RESULT_BAD_LENGTH);
    EXPECT_EQ(app.currentArchive, nullptr);
    EXPECT_EQ(app.uiState, UI_NO_ARCHIVE);
    EXPECT_EQ(title(), L"Quarnel v2");
    EXPECT_EQ(statusText(), L"就绪");
    EXPECT_EQ(rowCount(), 0);
    // A failed save says so: the user's changes did not reach the file.
    ASSERT_EQ(seamLog.boxes.size(), 3u);
    EXPECT_EQ(seamLog.boxes[2].text.rfind(L"保存失败", 0), 0u);
    EXPECT_EQ(seamLog.boxes[2].caption, L"错误");

    openSample();
    addPending(*app.currentArchive, "data\\new.txt", 3);
    seamLog.boxAnswers.push_back(IDNO);
    click(IDC_CLOSE);
    EXPECT_EQ(app.currentArchive, nullptr);
    EXPECT_EQ(app.uiState, UI_NO_ARCHIVE);
    EXPECT_EQ(rowCount(), 0);
    EXPECT_EQ(takeHandedOverTask(), 0u);
}

TEST_F(MainDialogTest, WindowCloseWaitsForTasksAndForTheSave) {
    openSample();
    setUiState(UI_BUSY);
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    click(IDC_CLOSE);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_NE(app.currentArchive, nullptr);
    EXPECT_TRUE(seamLog.boxes.empty());

    // Exit on a modified archive answered Yes saves and keeps the window; the next Exit ends it.
    setUiState(UI_ARCHIVE_OPEN);
    addPending(*app.currentArchive, "data\new.txt", 3);
    seamLog.boxAnswers.push_back(IDYES);
    click(IDC_EXIT);
    pump();
    EXPECT_EQ(takeHandedOverTask(), static_cast<uint32_t>(TASK_SAVE));
    EXPECT_TRUE(IsWindow(dialog));
    sendFinished(TASK_SAVE, 0);
    click(IDC_EXIT);
    pump();
    EXPECT_FALSE(IsWindow(dialog));
    dialog = nullptr;
}

TEST_F(MainDialogTest, CommandsDoNothingWhileATaskRuns) {
    openSample();
    GrfArchive* const archive = app.currentArchive.get();
    selectRows({0, 1});
    setUiState(UI_BUSY);
    seamLog.fileAnswers.assign(4, wide(path));
    seamLog.folderAnswers.assign(4, L"C:\\out");
    seamLog.boxAnswers.assign(4, IDYES);
    for (const int id : BUTTONS) {
        click(id);
    }
    pump();
    EXPECT_EQ(app.currentArchive.get(), archive);
    EXPECT_EQ(archive->storedEntries()[0]->state(), ENTRY_STORED);
    EXPECT_EQ(takeHandedOverTask(), 0u);
    EXPECT_TRUE(seamLog.fileAsks.size() == 1 && seamLog.folderTitles.empty() && seamLog.boxes.empty());
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(app.uiState, UI_BUSY);
}

TEST_F(MainDialogTest, ExitOnAnUnmodifiedArchiveEndsTheWindowAtOnce) {
    openSample();
    click(IDC_EXIT);
    pump();
    EXPECT_EQ(app.currentArchive, nullptr);
    EXPECT_FALSE(IsWindow(dialog));
    dialog = nullptr;
}

TEST_F(MainDialogTest, TaskCommandsHandOverFilledRecords) {
    openSample();
    GrfArchive* const archive = app.currentArchive.get();
    SendMessageW(item(IDC_KEEP_DIRS), BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageW(item(IDC_KOREAN_NAMES), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(item(IDC_LEVEL), CB_SETCURSEL, 3, 0);
    std::unique_ptr<TaskArgs> record;

    seamLog.folderAnswers.push_back(L"C:\\out");
    click(IDC_EXTRACT_ALL);
    EXPECT_EQ(seamLog.folderTitles.back(), L"请选择要提取到的目录");
    ASSERT_EQ(takeHandedOverTask(&record), static_cast<uint32_t>(TASK_EXTRACT_ALL));
    {
        const auto* const all = static_cast<const ExtractAllArgs*>(record.get());
        EXPECT_EQ(all->archive, archive);
        EXPECT_EQ(all->targetDir, u"C:\\out");
        EXPECT_EQ(all->keepDirs, 0);
        EXPECT_EQ(all->useKoreanNames, 1);
    }
    setUiState(UI_ARCHIVE_OPEN);

    seamLog.folderAnswers.push_back(L"C:\\in");
    click(IDC_ADD_DIRECTORY);
    EXPECT_EQ(seamLog.folderTitles.back(), L"请选择要添加目录");
    ASSERT_EQ(takeHandedOverTask(&record), static_cast<uint32_t>(TASK_ADD_DIRECTORY));
    {
        const auto* const add = static_cast<const AddDirectoryArgs*>(record.get());
        EXPECT_EQ(add->archive, archive);
        EXPECT_EQ(add->directory, u"C:\\in");
        EXPECT_EQ(add->useKoreanNames, 1);
    }
    setUiState(UI_ARCHIVE_OPEN);

    seamLog.fileAnswers.push_back(L"C:\\other.grf");
    click(IDC_ADD_ARCHIVE);
    EXPECT_EQ(seamLog.fileAsks.back().title, L"请选择要打开的GRF文件");
    EXPECT_EQ(seamLog.fileAsks.back().flags, 0x21804u);
    ASSERT_EQ(takeHandedOverTask(&record), static_cast<uint32_t>(TASK_ADD_ARCHIVE));
    {
        const auto* const add = static_cast<const AddArchiveArgs*>(record.get());
        EXPECT_EQ(add->archive, archive);
        EXPECT_EQ(add->otherPath, u"C:\\other.grf");
    }
    setUiState(UI_ARCHIVE_OPEN);

    // Cancelled pickers and a No to the recompress question hand over nothing.
    click(IDC_EXTRACT_ALL);
    click(IDC_ADD_DIRECTORY);
    click(IDC_ADD_ARCHIVE);
    seamLog.boxAnswers.push_back(IDNO);
    click(IDC_RECOMPRESS);
    EXPECT_EQ(takeHandedOverTask(), 0u);
    EXPECT_EQ(app.uiState, UI_ARCHIVE_OPEN);
    EXPECT_EQ(rowCount(), 2);

    seamLog.boxAnswers.push_back(IDYES);
    click(IDC_RECOMPRESS);
    EXPECT_EQ(seamLog.boxes.back().text, L"重新压缩Grf文件会丢弃当前所有的更改，是否继续？");
    EXPECT_EQ(seamLog.boxes.back().caption, L"重新压缩");
    EXPECT_EQ(seamLog.boxes.back().type, static_cast<UINT>(MB_ICONQUESTION | MB_YESNO));
    ASSERT_EQ(takeHandedOverTask(&record), static_cast<uint32_t>(TASK_RECOMPRESS));
    auto* const recompress = static_cast<RecompressArgs*>(record.get());
    EXPECT_EQ(recompress->archive.get(), archive);
    EXPECT_EQ(app.currentArchive, nullptr) << "the task holds the archive alone";
    EXPECT_EQ(recompress->level, 3);
    EXPECT_EQ(recompress->useKoreanNames, 1);
    EXPECT_EQ(recompress->resultArchive, nullptr);
    EXPECT_EQ(rowCount(), 0) << "the list lets go of an archive the worker will destroy";
    EXPECT_EQ(entryForIndex(0), nullptr);

    // The task's end brings the archive back (here: the same one, as a failed rewrite would).
    recompress->resultArchive = std::move(recompress->archive);
    record.release();
    sendFinished(TASK_RECOMPRESS, reinterpret_cast<LPARAM>(recompress));
    EXPECT_EQ(app.currentArchive.get(), archive);
    EXPECT_EQ(rowCount(), 2);
    EXPECT_EQ(app.uiState, UI_ARCHIVE_OPEN);
}

TEST_F(MainDialogTest, ExtractAllNeedsAStoredEntry) {
    seamLog.fileAnswers.push_back(wide(dir.file(u"new.grf")));
    click(IDC_NEW);
    addPending(*app.currentArchive, "data\\only-added.txt", 4);
    applyFilter();
    seamLog.folderAnswers.push_back(L"C:\\out");
    click(IDC_EXTRACT_ALL);
    EXPECT_TRUE(seamLog.folderTitles.empty());
    EXPECT_EQ(takeHandedOverTask(), 0u);
}

TEST_F(MainDialogTest, ExtractSelectedTakesStoredRowsOnly) {
    openSample();  // rows 0, 1 stored: data\a.txt, data\b.txt
    addPending(*app.currentArchive, "data\\c.txt", 4);
    addPending(*app.currentArchive, "data\\d.txt", 4);
    applyFilter();
    ASSERT_EQ(rowCount(), 4);
    std::unique_ptr<TaskArgs> record;

    // One stored row: a save picker that starts with the entry's name.
    selectRows({1});
    seamLog.fileAnswers.push_back(L"C:\\out\\b.txt");
    click(IDC_EXTRACT_SELECTED);
    ASSERT_EQ(seamLog.fileAsks.size(), 2u);
    const auto& ask = seamLog.fileAsks.back();
    EXPECT_TRUE(ask.save);
    EXPECT_EQ(ask.initialFile, L"data\\b.txt");
    EXPECT_EQ(ask.filter, L"所有文件(*.*)|*.*");
    EXPECT_EQ(ask.title, L"(none)");
    EXPECT_EQ(ask.flags, 0x20006u);
    EXPECT_EQ(ask.defaultExtension, L"");
    ASSERT_EQ(takeHandedOverTask(&record), static_cast<uint32_t>(TASK_EXTRACT_ONE));
    {
        const auto* const one = static_cast<const ExtractOneArgs*>(record.get());
        EXPECT_EQ(one->entry, app.currentArchive->storedEntries()[1].get());
        EXPECT_EQ(one->targetPath, u"C:\\out\\b.txt");
    }
    setUiState(UI_ARCHIVE_OPEN);

    // One added row: nothing, not even a picker.
    selectRows({2});
    click(IDC_EXTRACT_SELECTED);
    EXPECT_EQ(seamLog.fileAsks.size(), 2u);
    EXPECT_TRUE(seamLog.folderTitles.empty());

    // Several rows: the stored ones in row order; added rows only are still a (empty) task.
    const struct { std::initializer_list<int> rows; size_t expected; } cases[] = {{{0, 1, 3}, 2}, {{2, 3}, 0}};
    for (const auto& c : cases) {
        selectRows(c.rows);
        seamLog.folderAnswers.push_back(L"C:\\many");
        click(IDC_EXTRACT_SELECTED);
        EXPECT_EQ(seamLog.folderTitles.back(), L"请选择要提取到的目录");
        ASSERT_EQ(takeHandedOverTask(&record), static_cast<uint32_t>(TASK_EXTRACT_SELECTED));
        const auto* const list = static_cast<const ExtractListArgs*>(record.get());
        EXPECT_EQ(list->selection.size(), c.expected);
        if (c.expected == 2) {
            EXPECT_EQ(list->selection[0], app.currentArchive->storedEntries()[0].get());
            EXPECT_EQ(list->selection[1], app.currentArchive->storedEntries()[1].get());
        }
        EXPECT_EQ(list->targetDir, u"C:\\many");
        EXPECT_EQ(list->keepDirs, 1);
        setUiState(UI_ARCHIVE_OPEN);
    }
}

TEST_F(MainDialogTest, DeleteSelectedMarksRowsAndTheTitleFollowsLater) {
    openSample();
    selectRows({0});
    click(IDC_DELETE_SELECTED);
    pump();
    EXPECT_EQ(app.currentArchive->storedEntries()[0]->state(), ENTRY_DELETED);
    EXPECT_EQ(app.currentArchive->storedEntries()[1]->state(), ENTRY_STORED);
    EXPECT_TRUE(app.currentArchive->isModified());
    EXPECT_EQ(rowCount(), 2) << "deleted rows stay";
    EXPECT_EQ(rowImage(0), 2);
    EXPECT_EQ(cell(0, 1), std::to_wstring(app.currentArchive->storedEntries()[0]->compressedSize()));
    EXPECT_EQ(title(), L"Quarnel v2 - " + wide(path));
    pressEnterInFilter();
    EXPECT_EQ(title(), L"Quarnel v2 - " + wide(path) + L"*");

    selectRows({});
    click(IDC_DELETE_SELECTED);
    EXPECT_EQ(app.currentArchive->storedEntries()[1]->state(), ENTRY_STORED);
}

}  // namespace
