// Around the dialog: the program's argument, drops, the list's context menu and keys, the
// clipboard and the dialog manager's Tab.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>

#include "archive/model/archive.h"
#include "platform/code_page.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_harness.h"
#include "ui/controls.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/wide.h"
#include "worker/task_worker.h"

namespace {

// A drop as the shell makes it: DROPFILES, then the wide paths, each ended, and one more end.
HDROP makeDrop(const std::vector<std::u16string>& paths) {
    size_t units = 1;
    for (const auto& path : paths) units += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(wchar_t));
    auto* const header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES));
    for (const auto& path : paths) {
        std::copy(path.begin(), path.end(), out);
        out += path.size();
        *out++ = L'\0';
    }
    *out = L'\0';
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

std::wstring clipboardText() {
    if (!OpenClipboard(nullptr)) return L"(clipboard not open)";
    std::wstring text = L"(no text)";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The keyboard state this thread's GetKeyState reads, with one key held or released.
void holdKey(int key, bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[key] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

class ShellTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        platform::setAnsiCodePage(platform::CODE_PAGE_WESTERN);
    }
    void TearDown() override {
        holdKey(VK_CONTROL, false);
        holdKey(VK_SHIFT, false);
        UiTest::TearDown();
    }

    std::u16string sample(const std::u16string& name = u"test.grf") {
        return TestArchive().add("data\\a.txt", "alpha").add("data\\b.txt", "beta").add("data\\\xB5\xA5.txt", "k")
            .writeTo(dir, name);
    }

    void drop(const std::vector<std::u16string>& paths) {
        SendMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(makeDrop(paths)), 0);
    }

    void keyInList(WPARAM key) {
        SendMessageW(item(IDC_ENTRY_LIST), WM_KEYDOWN, key, 0);
    }

    void contextMenu() {
        SendMessageW(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(item(IDC_ENTRY_LIST)), MAKELPARAM(40, 40));
    }

    bool editingLabel() const {
        return SendMessageW(item(IDC_ENTRY_LIST), LVM_GETEDITCONTROL, 0, 0) != 0;
    }

    TempDir dir;
};

TEST_F(ShellTest, ProgramArgumentOpensTheArchiveAsOpenDoes) {
    const std::u16string path = sample();
    openFromCommandLine((L"quarnel.exe \"" + std::wstring(asWide(path)) + L"\"").c_str());
    ASSERT_NE(app.currentArchive, nullptr);
    // A relative or drive-less argument is made whole, as the picker would hand it over.
    const std::wstring shown = title();
    EXPECT_EQ(shown.substr(shown.size() - path.size()), std::wstring(asWide(path))) << std::string(shown.begin(), shown.end());
    EXPECT_EQ(rowCount(), 3);
    EXPECT_TRUE(IsWindowEnabled(item(IDC_CLOSE)));
    EXPECT_FALSE(IsWindowEnabled(item(IDC_OPEN)));
}

TEST_F(ShellTest, ProgramArgumentThatIsNoArchiveLeavesTheWindowAsOpenDoes) {
    writeFile(dir.native(u"plain.grf"), "not an archive at all, but long enough for a header to be read");
    for (const std::wstring& commandLine : {L"quarnel.exe \"" + std::wstring(asWide(dir.file(u"plain.grf"))) + L"\"",
                                            std::wstring(L"quarnel.exe"), std::wstring(L"quarnel.exe \"\"")}) {
        SCOPED_TRACE(commandLine);
        openFromCommandLine(commandLine.c_str());
        EXPECT_EQ(app.currentArchive, nullptr);
        EXPECT_EQ(title(), L"Quarnel v2");
        EXPECT_TRUE(IsWindowEnabled(item(IDC_OPEN)));
    }
    // Each failed open says why, under "错误".
    EXPECT_FALSE(seamLog.boxes.empty());
    for (const auto& box : seamLog.boxes) EXPECT_EQ(box.caption, L"错误");
}

TEST_F(ShellTest, DropWithoutAnArchiveOpensTheFirstArchiveDropped) {
    const std::u16string archive = sample(u"dropped.GPF");
    writeFile(dir.native(u"notes.txt"), "text");
    drop({dir.file(u"notes.txt"), dir.path(), archive});
    ASSERT_NE(app.currentArchive, nullptr);
    EXPECT_EQ(app.currentArchive->path, archive);
    EXPECT_EQ(rowCount(), 3);
    EXPECT_TRUE(seamLog.boxes.empty()) << "nothing was asked: there was nothing to add to";
}

TEST_F(ShellTest, DropOnAnOpenArchiveAsksThenAddsFilesFoldersAndArchives) {
    openArchive(sample());
    CreateDirectoryW(asWide(dir.file(u"folder")), nullptr);
    writeFile(dir.native(u"folder\\inner.txt"), "inner");
    writeFile(dir.native(u"loose.txt"), "loose");
    const std::u16string other = TestArchive().add("data\\merged.txt", "merged").writeTo(dir, u"other.grf");
    startWorker();

    seamLog.boxAnswers.push_back(IDNO);
    drop({dir.file(u"folder"), dir.file(u"loose.txt"), other});
    ASSERT_EQ(seamLog.boxes.size(), 1u);
    EXPECT_EQ(seamLog.boxes[0].caption, L"添加文件");
    EXPECT_EQ(seamLog.boxes[0].type, static_cast<UINT>(MB_ICONQUESTION | MB_YESNO));
    EXPECT_EQ(seamLog.boxes[0].text, L"是否将以下内容添加到当前GRF文件？\n\n目录：" +
                                         std::wstring(asWide(dir.file(u"folder"))) + L"\n文件：" +
                                         std::wstring(asWide(dir.file(u"loose.txt"))) + L"\n合并Grf：" +
                                         std::wstring(asWide(other)));
    EXPECT_EQ(rowCount(), 3) << "No adds nothing";
    EXPECT_FALSE(app.currentArchive->isModified());

    seamLog.boxAnswers.push_back(IDYES);
    drop({dir.file(u"folder"), dir.file(u"loose.txt"), other});
    // The folder and the archive go one task after the other.
    ASSERT_TRUE(pumpUntil([] { return app.uiState == UI_ARCHIVE_OPEN && app.pendingAdds.empty(); }));
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"data\\a.txt", L"data\\b.txt", L"data\\\u00B5\u00A5.txt",
                                                  L"data\\loose.txt", L"data\\inner.txt", L"data\\merged.txt"}));
    EXPECT_EQ(seamLog.boxes.size(), 2u) << "no warning: everything was added";
    EXPECT_EQ(title().back(), L'*');
}

TEST_F(ShellTest, DroppedFilesThatCannotBeAddedAreNamedWithTheirReason) {
    openArchive(sample());
    const std::u16string chinese = dir.file(u"\u4E2D.txt");
    std::ofstream(std::filesystem::path(asWide(chinese)), std::ios::binary) << "x";
    seamLog.boxAnswers.push_back(IDYES);
    drop({chinese, dir.file(u"gone.txt")});
    ASSERT_EQ(seamLog.boxes.size(), 2u);
    EXPECT_EQ(seamLog.boxes[1].text, L"以下文件未能添加：\n" + std::wstring(asWide(dir.file(u"gone.txt"))) +
                                         L"：找不到文件\n" + std::wstring(asWide(chinese)) + L"：文件名无法转换或过长");
    EXPECT_EQ(seamLog.boxes[1].type, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(rowCount(), 3);
}

TEST_F(ShellTest, NothingIsTakenWhileATaskRuns) {
    openArchive(sample());
    writeFile(dir.native(u"loose.txt"), "loose");
    app.uiState = UI_BUSY;
    drop({dir.file(u"loose.txt")});
    EXPECT_TRUE(seamLog.boxes.empty());
    EXPECT_EQ(app.currentArchive->pendingEntries().size(), 0u);
    // The list's commands that change the archive wait too; copying names does not.
    selectRows({0});
    keyInList(VK_DELETE);
    keyInList(VK_F2);
    EXPECT_EQ(app.currentArchive->storedEntries()[0]->state(), ENTRY_STORED);
    EXPECT_FALSE(editingLabel());
    contextMenu();
    ASSERT_EQ(seamLog.menus.size(), 1u);
    for (const auto& entry : seamLog.menus[0].items) {
        SCOPED_TRACE(entry.text);
        EXPECT_EQ(entry.enabled, entry.id == IDM_COPY_NAME);
    }
}

TEST_F(ShellTest, ContextMenuOffersTheListsCommandsAndRunsThem) {
    openArchive(sample());
    contextMenu();
    ASSERT_EQ(seamLog.menus.size(), 1u);
    const std::vector<std::pair<UINT, std::wstring>> expected = {{IDM_PREVIEW, L"预览\tEnter"},
                                                                 {IDM_EXTRACT, L"提取选定"},
                                                                 {IDM_DELETE, L"删除选定\tDel"},
                                                                 {IDM_RENAME, L"修改文件名\tF2"},
                                                                 {IDM_COPY_NAME, L"复制文件名\tCtrl+C"}};
    ASSERT_EQ(seamLog.menus[0].items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(seamLog.menus[0].items[i].id, expected[i].first);
        EXPECT_EQ(seamLog.menus[0].items[i].text, expected[i].second);
        EXPECT_FALSE(seamLog.menus[0].items[i].enabled) << "no row yet";
    }

    selectRows({0, 2});
    SendMessageW(item(IDC_KOREAN_NAMES), BM_SETCHECK, BST_CHECKED, 0);
    seamLog.menuAnswers.push_back(IDM_COPY_NAME);
    contextMenu();
    for (const auto& entry : seamLog.menus[1].items) EXPECT_TRUE(entry.enabled) << std::string(entry.text.begin(), entry.text.end());
    EXPECT_EQ(clipboardText(), L"data\\a.txt\r\ndata\\\uB370.txt") << "names as shown, one a line";

    seamLog.menuAnswers.push_back(IDM_EXTRACT);
    contextMenu();
    ASSERT_EQ(seamLog.folderTitles.size(), 1u) << "two rows: a folder is asked for";

    seamLog.menuAnswers.push_back(IDM_PREVIEW);
    contextMenu();
    EXPECT_TRUE(previewState().open);

    seamLog.menuAnswers.push_back(IDM_DELETE);
    contextMenu();
    EXPECT_EQ(rowImage(0), ENTRY_DELETED);
    EXPECT_EQ(rowImage(1), ENTRY_STORED);
    EXPECT_EQ(rowImage(2), ENTRY_DELETED);
    EXPECT_TRUE(app.currentArchive->isModified());

    seamLog.menuAnswers.push_back(IDM_RENAME);
    contextMenu();
    EXPECT_TRUE(editingLabel());
    SendMessageW(item(IDC_ENTRY_LIST), LVM_CANCELEDITLABEL, 0, 0);
}

TEST_F(ShellTest, ListKeysDeleteRenameSelectAllAndCopy) {
    openArchive(sample());
    SetFocus(item(IDC_ENTRY_LIST));
    holdKey(VK_CONTROL, true);
    keyInList('A');
    EXPECT_EQ(selectedRowCount(), 3);
    keyInList('C');
    EXPECT_EQ(clipboardText(), L"data\\a.txt\r\ndata\\b.txt\r\ndata\\\u00B5\u00A5.txt");
    keyInList(VK_DELETE);
    EXPECT_EQ(rowImage(0), ENTRY_STORED) << "Ctrl+Delete is not Delete";
    holdKey(VK_CONTROL, false);

    selectRows({1});
    keyInList(VK_DELETE);
    EXPECT_EQ(rowImage(0), ENTRY_STORED);
    EXPECT_EQ(rowImage(1), ENTRY_DELETED);

    LVITEMW focus{};
    focus.stateMask = LVIS_FOCUSED;
    focus.state = LVIS_FOCUSED;
    SendMessageW(item(IDC_ENTRY_LIST), LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&focus));
    keyInList(VK_F2);
    ASSERT_TRUE(editingLabel());
    EXPECT_EQ(text(reinterpret_cast<HWND>(SendMessageW(item(IDC_ENTRY_LIST), LVM_GETEDITCONTROL, 0, 0))),
              L"data\\\u00B5\u00A5.txt");
}

TEST_F(ShellTest, EnterAndDoubleClickPreviewTabMovesFocusAndEnterInTheFilterFilters) {
    openArchive(sample());
    const HWND list = item(IDC_ENTRY_LIST);
    selectRows({1});
    SetFocus(list);
    MSG enter{list, WM_KEYDOWN, VK_RETURN, 0};
    EXPECT_TRUE(IsDialogMessageW(dialog, &enter));
    EXPECT_EQ(previewState().title, L"预览 - data\\b.txt");
    DestroyWindow(app.previewWindow);

    NMITEMACTIVATE doubleClick{};
    doubleClick.hdr = {list, IDC_ENTRY_LIST, static_cast<UINT>(NM_DBLCLK)};
    doubleClick.iItem = 1;
    SendMessageW(dialog, WM_NOTIFY, IDC_ENTRY_LIST, reinterpret_cast<LPARAM>(&doubleClick));
    EXPECT_TRUE(previewState().open);

    const HWND filter = item(IDC_FILTER);
    SetFocus(filter);
    MSG tab{filter, WM_KEYDOWN, VK_TAB, 0};
    EXPECT_TRUE(IsDialogMessageW(dialog, &tab));
    EXPECT_EQ(GetFocus(), GetNextDlgTabItem(dialog, filter, FALSE));
    EXPECT_NE(GetFocus(), filter);
    SetFocus(filter);
    holdKey(VK_SHIFT, true);
    EXPECT_TRUE(IsDialogMessageW(dialog, &tab));
    holdKey(VK_SHIFT, false);
    EXPECT_EQ(GetFocus(), GetNextDlgTabItem(dialog, filter, TRUE));

    SetFocus(filter);
    typeFilter(L"B.TXT");
    MSG filterEnter{filter, WM_KEYDOWN, VK_RETURN, 0};
    EXPECT_TRUE(IsDialogMessageW(dialog, &filterEnter));
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"data\\b.txt"}));
    EXPECT_EQ(GetFocus(), filter);
}

}  // namespace
