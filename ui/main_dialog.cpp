#include "ui/main_dialog.h"

#include <commdlg.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "archive/model/archive.h"
#include "ui/app.h"
#include "ui/controls.h"
#include "ui/resource.h"
#include "ui/ui_seam.h"
#include "ui/wide.h"
#include "ui/window_messages.h"
#include "worker/task_worker.h"

App app;

namespace {

constexpr wchar_t ARCHIVE_FILTER[] = L"GRF文件(*.grf;*.gpf)\0*.grf;*.gpf\0";
constexpr wchar_t ARCHIVE_OR_ANY_FILTER[] = L"GRF文件(*.grf;*.gpf)\0*.grf;*.gpf\0所有文件(*.*)\0*.*\0";
constexpr wchar_t ANY_FILE_FILTER[] = L"所有文件(*.*)\0*.*\0";
constexpr DWORD SAVE_FLAGS = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NONETWORKBUTTON;
constexpr DWORD OPEN_FLAGS = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON;
constexpr wchar_t OPEN_TITLE[] = L"请选择要打开的GRF文件";
constexpr wchar_t EXTRACT_TO_TITLE[] = L"请选择要提取到的目录";

// A file picker request with the window's usual owner and a zeroed 260-unit file buffer.
struct FileRequest {
    OPENFILENAMEW request{};
    wchar_t file[MAX_PATH] = {};

    FileRequest(const wchar_t* filter, const wchar_t* title, DWORD flags, const wchar_t* defaultExtension) {
        request.lStructSize = sizeof(request);
        request.hwndOwner = app.mainWindow;
        request.hInstance = app.instance;
        request.lpstrFilter = filter;
        request.lpstrFile = file;
        request.nMaxFile = MAX_PATH;
        request.lpstrTitle = title;
        request.Flags = flags;
        request.lpstrDefExt = defaultExtension;
    }
    // The request points into the object itself.
    FileRequest(const FileRequest&) = delete;
    FileRequest& operator=(const FileRequest&) = delete;
};

// New and Open: the same steps around create or open.
void startArchive(bool create) {
    FileRequest picker(create ? ARCHIVE_FILTER : ARCHIVE_OR_ANY_FILTER,
                       create ? L"请选择要新建的GRF文件" : OPEN_TITLE, create ? SAVE_FLAGS : OPEN_FLAGS, L"grf");
    const BOOL chosen = create ? uiSeam.getSaveFileName(&picker.request) : uiSeam.getOpenFileName(&picker.request);
    if (!chosen) {
        return;
    }
    const std::u16string path = fromWide(picker.file);
    if (!create) {
        openArchiveAt(path);
        return;
    }
    endCurrentArchive();
    app.currentArchive = std::make_unique<GrfArchive>();
    if (Outcome created = app.currentArchive->create(path); !created) {
        endCurrentArchive();
        showFailure(L"无法新建GRF文件：", created.reason());
        return;
    }
    applyFilter();
    setUiState(UI_ARCHIVE_OPEN);
}

bool pickFolder(const wchar_t* title, std::u16string& folder) {
    std::wstring chosen;
    if (!uiSeam.browseForFolder(app.mainWindow, title, chosen)) {
        return false;
    }
    folder = fromWide(chosen.c_str());
    return true;
}

void onExtractAll() {
    GrfArchive* const archive = app.currentArchive.get();
    if (archive == nullptr || archive->storedEntries().empty()) {
        return;
    }
    auto record = std::make_unique<ExtractAllArgs>();
    if (!pickFolder(EXTRACT_TO_TITLE, record->targetDir)) {
        return;
    }
    record->keepDirs = keepDirs() ? 1 : 0;
    record->useKoreanNames = useKoreanNames() ? 1 : 0;
    record->archive = archive;
    handOverTask(TASK_EXTRACT_ALL, std::move(record));
}

void onAddDirectory() {
    if (app.currentArchive == nullptr) {
        return;
    }
    auto record = std::make_unique<AddDirectoryArgs>();
    if (!pickFolder(L"请选择要添加目录", record->directory)) {
        return;
    }
    record->useKoreanNames = useKoreanNames() ? 1 : 0;
    record->archive = app.currentArchive.get();
    handOverTask(TASK_ADD_DIRECTORY, std::move(record));
}

void onAddArchive() {
    if (app.currentArchive == nullptr) {
        return;
    }
    FileRequest picker(ARCHIVE_OR_ANY_FILTER, OPEN_TITLE, OPEN_FLAGS, L"grf");
    if (!uiSeam.getOpenFileName(&picker.request)) {
        return;
    }
    auto record = std::make_unique<AddArchiveArgs>();
    record->archive = app.currentArchive.get();
    record->otherPath = fromWide(picker.file);
    handOverTask(TASK_ADD_ARCHIVE, std::move(record));
}

}  // namespace

void deleteSelected() {
    if (app.currentArchive == nullptr || app.uiState == UI_BUSY || selectedRowCount() == 0) {
        return;
    }
    for (int row = nextSelectedRow(-1); row != -1; row = nextSelectedRow(row)) {
        if (static_cast<size_t>(row) >= app.visibleEntries.size()) {
            break;
        }
        GrfEntry* const entry = entryForIndex(app.visibleEntries[row]);
        if (entry != nullptr) {
            entry->owner()->markDeleted(*entry);
        }
    }
    invalidateList();
}

namespace {

void onRecompress() {
    if (app.currentArchive == nullptr) {
        return;
    }
    if (uiSeam.messageBox(app.mainWindow, L"重新压缩Grf文件会丢弃当前所有的更改，是否继续？", L"重新压缩",
                          MB_ICONQUESTION | MB_YESNO) != IDYES) {
        return;
    }
    auto record = std::make_unique<RecompressArgs>();
    record->useKoreanNames = useKoreanNames() ? 1 : 0;
    record->level = compressionLevel();
    // The worker destroys this archive and hands back another one; until then the window has
    // none, and the list shows nothing rather than rows of freed entries.
    app.visibleEntries.clear();
    setListItemCount(0);
    record->archive = std::move(app.currentArchive);
    handOverTask(TASK_RECOMPRESS, std::move(record));
}

// Answers whether `command` is one of the dialog's clicks.
bool onCommand(WPARAM command) {
    // Enter goes to the dialog as IDOK: on the list it opens the preview. (The filter box takes
    // its own Enter.)
    if (command == IDOK) {
        if (GetFocus() == control(IDC_ENTRY_LIST)) {
            openPreview();
        }
        return true;
    }
    if (onListCommand(command)) {
        return true;
    }
    static constexpr int COMMANDS[] = {IDC_NEW, IDC_OPEN, IDC_CLOSE, IDC_EXIT, IDC_EXTRACT_SELECTED,
                                       IDC_EXTRACT_ALL, IDC_ADD_DIRECTORY, IDC_ADD_ARCHIVE, IDC_DELETE_SELECTED,
                                       IDC_RECOMPRESS, IDC_KOREAN_NAMES};
    if (std::find(std::begin(COMMANDS), std::end(COMMANDS), static_cast<int>(command)) == std::end(COMMANDS)) {
        return false;
    }
    // Disabled buttons are not enough: a click message sent to a disabled button still arrives
    // here, and New or Open would then destroy the archive the running task works on.
    if (app.uiState == UI_BUSY) {
        return true;
    }
    switch (command) {
    case IDC_NEW: startArchive(true); break;
    case IDC_OPEN: startArchive(false); break;
    case IDC_CLOSE: promptCloseArchive(); break;
    case IDC_EXIT: PostMessageW(app.mainWindow, WM_CLOSE, 0, 0); break;
    case IDC_EXTRACT_SELECTED: extractSelected(); break;
    case IDC_EXTRACT_ALL: onExtractAll(); break;
    case IDC_ADD_DIRECTORY: onAddDirectory(); break;
    case IDC_ADD_ARCHIVE: onAddArchive(); break;
    case IDC_DELETE_SELECTED: deleteSelected(); break;
    case IDC_RECOMPRESS: onRecompress(); break;
    // The names repaint in the other decoding; the rows stay as they are.
    case IDC_KOREAN_NAMES: invalidateList(); break;
    default: break;
    }
    return true;
}

void resetToNoArchive() {
    closePreview();
    app.visibleEntries.clear();
    setListItemCount(0);
    refreshTitle();
    setControlText(IDC_STATUS, L"就绪");
    setUiState(UI_NO_ARCHIVE);
}

}  // namespace

bool openArchiveAt(const std::u16string& path) {
    endCurrentArchive();
    app.currentArchive = std::make_unique<GrfArchive>();
    if (Outcome opened = app.currentArchive->open(path); !opened) {
        endCurrentArchive();
        // Users were left guessing when nothing happened: the path and the cause, under "错误".
        showFailure(L"无法打开GRF文件：", opened.reason());
        return false;
    }
    applyFilter();
    setUiState(UI_ARCHIVE_OPEN);
    return true;
}

void handOverTask(uint32_t code, std::unique_ptr<TaskArgs> record) {
    // Busy from the hand-over on, not only from WM_TASK_STARTED: a second command in between
    // would overwrite the task the worker has not read yet, or change the archive under it.
    setUiState(UI_BUSY);
    app.worker->startTask(code, std::move(record));
}

void endCurrentArchive() {
    // Its destructor closes it; the list must show no rows of it by the next paint.
    app.currentArchive.reset();
}

void initMainDialog(HWND window) {
    app.mainWindow = window;
    SetClassLongPtrW(window, GCLP_HICON,
                     reinterpret_cast<LONG_PTR>(LoadIconW(app.instance, MAKEINTRESOURCEW(IDI_MAIN))));
    static const wchar_t* const levels[] = {L"0 - 不压缩", L"1 - 最快速度", L"2", L"3", L"4", L"5",
                                            L"6 - 默认压缩率", L"7", L"8", L"9 - 最大压缩率"};
    const HWND levelList = control(IDC_LEVEL);
    for (const wchar_t* text : levels) {
        SendMessageW(levelList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendMessageW(levelList, CB_SETCURSEL, 6, 0);
    setUpEntryList(control(IDC_ENTRY_LIST));
    app.originalFilterProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control(IDC_FILTER), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(filterKeyProc)));
    SendMessageW(control(IDC_KEEP_DIRS), BM_SETCHECK, BST_CHECKED, 0);
    DragAcceptFiles(window, TRUE);
}

void setUiState(int state) {
    const bool idle = state != UI_BUSY;
    const bool open = state == UI_ARCHIVE_OPEN;
    changeStyle(control(IDC_ENTRY_LIST), LVS_EDITLABELS, idle);
    enableControl(IDC_NEW, state == UI_NO_ARCHIVE);
    enableControl(IDC_OPEN, state == UI_NO_ARCHIVE);
    enableControl(IDC_CLOSE, open);
    enableControl(IDC_EXIT, idle);
    for (const int id : {IDC_EXTRACT_SELECTED, IDC_EXTRACT_ALL, IDC_ADD_DIRECTORY, IDC_ADD_ARCHIVE,
                         IDC_DELETE_SELECTED, IDC_RECOMPRESS, IDC_FILTER}) {
        enableControl(id, open);
    }
    for (const int id : {IDC_LEVEL, IDC_KOREAN_NAMES, IDC_KEEP_DIRS}) {
        enableControl(id, idle);
    }
    app.uiState = state;
}

void refreshTitle() {
    std::wstring title = L"Quarnel v2";
    if (const GrfArchive* archive = listArchive()) {
        title += L" - ";
        title += asWide(archive->path);
        if (archive->isModified()) {
            title += L"*";
        }
    }
    SetWindowTextW(app.mainWindow, title.c_str());
}

void promptCloseArchive() {
    if (app.uiState == UI_BUSY) {
        return;
    }
    if (app.currentArchive != nullptr) {
        if (app.currentArchive->isModified()) {
            const int answer = uiSeam.messageBox(app.mainWindow, L"文件已修改，是否需要保存修改？", L"关闭文件",
                                                 MB_ICONQUESTION | MB_YESNOCANCEL);
            if (answer == IDYES) {
                auto record = std::make_unique<SaveArgs>();
                record->useKoreanNames = useKoreanNames() ? 1 : 0;
                record->level = compressionLevel();
                record->archive = app.currentArchive.get();
                handOverTask(TASK_SAVE, std::move(record));
                return;
            }
            if (answer != IDNO) {
                return;
            }
        }
        endCurrentArchive();
    }
    resetToNoArchive();
}

void extractSelected() {
    GrfArchive* const archive = app.currentArchive.get();
    if (archive == nullptr) {
        return;
    }
    const int count = selectedRowCount();
    if (count == 0) {
        return;
    }
    const auto storedEntryOfRow = [archive](int row) -> GrfEntry* {
        if (row < 0 || static_cast<size_t>(row) >= app.visibleEntries.size()) {
            return nullptr;
        }
        const uint32_t index = app.visibleEntries[row];
        return index < archive->storedEntries().size() ? archive->storedEntries()[index].get() : nullptr;
    };
    if (count == 1) {
        GrfEntry* const entry = storedEntryOfRow(nextSelectedRow(-1));
        if (entry == nullptr) {
            return;
        }
        FileRequest picker(ANY_FILE_FILTER, nullptr, SAVE_FLAGS, nullptr);
        const std::u16string& name = entry->displayName(useKoreanNames());
        const size_t length = std::min<size_t>(name.size(), MAX_PATH - 1);
        std::copy_n(asWide(name), length, picker.file);
        picker.file[length] = L'\0';
        if (!uiSeam.getSaveFileName(&picker.request)) {
            return;
        }
        auto record = std::make_unique<ExtractOneArgs>();
        record->entry = entry;
        record->targetPath = fromWide(picker.file);
        handOverTask(TASK_EXTRACT_ONE, std::move(record));
        return;
    }
    auto record = std::make_unique<ExtractListArgs>();
    if (!pickFolder(EXTRACT_TO_TITLE, record->targetDir)) {
        return;
    }
    record->keepDirs = keepDirs() ? 1 : 0;
    record->useKoreanNames = useKoreanNames() ? 1 : 0;
    for (int row = nextSelectedRow(-1); row != -1; row = nextSelectedRow(row)) {
        if (GrfEntry* const entry = storedEntryOfRow(row)) {
            record->selection.push_back(entry);
        }
    }
    handOverTask(TASK_EXTRACT_SELECTED, std::move(record));
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initMainDialog(window);
        return 0;
    case WM_COMMAND:
        return onCommand(wParam) ? 1 : 0;
    case WM_NOTIFY: {
        auto* const notification = reinterpret_cast<NMHDR*>(lParam);
        if (notification->idFrom != IDC_ENTRY_LIST) {
            return 0;
        }
        const LRESULT result = onEntryListNotify(notification);
        // A dialog hands the notification's answer back through DWLP_MSGRESULT.
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return result;
    }
    case WM_DROPFILES:
        onDropFiles(reinterpret_cast<HDROP>(wParam));
        return 1;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) != control(IDC_ENTRY_LIST)) {
            return 0;
        }
        onListContextMenu(lParam);
        return 1;
    case WM_CLOSE:
        // A running task holds the archive (a recompress even holds it alone): the window stays.
        if (app.uiState == UI_BUSY) {
            return 1;
        }
        if (app.currentArchive != nullptr) {
            promptCloseArchive();
            if (app.currentArchive != nullptr) {
                return 1;
            }
        }
        DestroyWindow(window);
        return 1;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 1;
    case WM_ACTIVATE:
        onActivate();
        return 1;
    case WM_DPICHANGED:
        // Only what the window sized in pixels itself; unhandled, so the dialog manager still
        // moves the window and scales the template's controls and font.
        onEntryListDpiChanged(control(IDC_ENTRY_LIST), LOWORD(wParam));
        return 0;
    case WM_TASK_STARTED:
        onTaskStarted(static_cast<uint32_t>(wParam));
        return 1;
    case WM_TASK_STATUS:
        onTaskStatus(reinterpret_cast<const wchar_t*>(wParam));
        return 1;
    case WM_TASK_TOTAL:
        onTaskTotal(joinHalves(wParam, lParam));
        return 1;
    case WM_TASK_PROGRESS:
        onTaskProgress(joinHalves(wParam, lParam));
        return 1;
    case WM_TASK_FINISHED:
        // Ours from here on: the completion and the task's record with it.
        onTaskFinished(std::unique_ptr<TaskCompletion>(reinterpret_cast<TaskCompletion*>(lParam)));
        return 1;
    case WM_TASK_ITEM_FAILED:
        onTaskItemFailed(reinterpret_cast<const FailureReason*>(lParam));
        return 1;
    default:
        if (message == app.taskbarButtonCreatedMessage && message != 0) {
            onTaskbarButtonCreated();
        }
        return 0;
    }
}
