#include "tests/support/ui_harness.h"

#include <objbase.h>

#include "archive/model/archive.h"
#include "archive/format/name_hash.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/ui_seam.h"
#include "ui/wide.h"
#include "worker/task_args.h"

SeamLog seamLog;

HRESULT FakeTaskbar::QueryInterface(REFIID id, void** object) {
    if (id == IID_IUnknown || id == IID_ITaskbarList || id == IID_ITaskbarList2 || id == IID_ITaskbarList3) {
        *object = this;
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

namespace {

std::wstring joinFilter(const wchar_t* filter) {
    std::wstring joined;
    while (filter != nullptr && *filter != L'\0') {
        if (!joined.empty()) {
            joined += L'|';
        }
        joined += filter;
        filter += wcslen(filter) + 1;
    }
    return joined;
}

BOOL answerFile(OPENFILENAMEW* request, bool save) {
    SeamLog::FileAsk ask;
    ask.save = save;
    ask.filter = joinFilter(request->lpstrFilter);
    ask.title = request->lpstrTitle != nullptr ? request->lpstrTitle : L"(none)";
    ask.flags = request->Flags;
    ask.defaultExtension = request->lpstrDefExt != nullptr ? request->lpstrDefExt : L"";
    ask.initialFile = request->lpstrFile;
    seamLog.fileAsks.push_back(ask);
    if (seamLog.fileAnswers.empty()) {
        return FALSE;
    }
    const std::wstring answer = seamLog.fileAnswers.front();
    seamLog.fileAnswers.pop_front();
    if (answer.empty() || answer.size() >= request->nMaxFile) {
        return FALSE;
    }
    wcscpy(request->lpstrFile, answer.c_str());
    return TRUE;
}

BOOL answerSave(OPENFILENAMEW* request) { return answerFile(request, true); }
BOOL answerOpen(OPENFILENAMEW* request) { return answerFile(request, false); }

bool answerFolder(HWND, const wchar_t* title, std::wstring& folder) {
    seamLog.folderTitles.push_back(title);
    if (seamLog.folderAnswers.empty()) {
        return false;
    }
    folder = seamLog.folderAnswers.front();
    seamLog.folderAnswers.pop_front();
    return !folder.empty();
}

int answerBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    seamLog.boxes.push_back({text, caption, type});
    if (seamLog.boxAnswers.empty()) {
        return IDOK;
    }
    const int answer = seamLog.boxAnswers.front();
    seamLog.boxAnswers.pop_front();
    return answer;
}

HRESULT answerTaskbar(ITaskbarList3** list) {
    *list = nullptr;
    if (seamLog.taskbarCreationFails) {
        return E_FAIL;
    }
    *list = new FakeTaskbar;
    return S_OK;
}

HWND answerForeground() {
    return seamLog.windowInFront ? app.mainWindow : nullptr;
}

UINT answerMenu(HMENU menu, HWND, int, int) {
    SeamLog::Menu shown;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_STRING | MIIM_STATE | MIIM_ID | MIIM_FTYPE;
        info.dwTypeData = text;
        info.cch = 64;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        if (info.fType & MFT_SEPARATOR) {
            continue;
        }
        shown.items.push_back({info.wID, text, (info.fState & MFS_DISABLED) == 0});
    }
    seamLog.menus.push_back(shown);
    if (seamLog.menuAnswers.empty()) {
        return 0;
    }
    const UINT answer = seamLog.menuAnswers.front();
    seamLog.menuAnswers.pop_front();
    return answer;
}

void prepareProcess() {
    static bool ready = false;
    if (ready) {
        return;
    }
    ready = true;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
}

}  // namespace

void UiTest::SetUp() {
    prepareProcess();
    seamLog = SeamLog{};
    uiSeam = UiSeam{answerSave, answerOpen, answerFolder, answerBox, answerTaskbar, answerMenu, answerForeground};
    const UINT registered = app.taskbarButtonCreatedMessage;
    app = App{};
    app.taskbarButtonCreatedMessage = registered;
    app.instance = GetModuleHandleW(nullptr);
    dialog = CreateDialogParamW(app.instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProc, 0);
    // This failed once under Wine and never again; the system's error code is all there is to go on.
    ASSERT_NE(dialog, nullptr) << "CreateDialogParamW failed with error " << GetLastError();
    app.mainWindow = dialog;
    setUiState(UI_NO_ARCHIVE);
    listener = std::make_unique<WindowListener>(dialog);
    worker = std::make_unique<TaskWorker>(*listener);
    app.worker = worker.get();
    ShowWindow(dialog, SW_SHOW);
    refreshTitle();
    pump();
}

void UiTest::TearDown() {
    if (worker != nullptr) {
        worker->stop();
        // Whatever the worker still posted must not reach a later test's window.
        pump();
        // A record the worker never took (a recompress one with the archive in it).
        (void)worker->takeHandedOverTask(nullptr);
    }
    if (app.uiState == UI_BUSY && app.currentArchive != nullptr) {
        app.uiState = UI_ARCHIVE_OPEN;
    }
    endCurrentArchive();
    if (dialog != nullptr) {
        DestroyWindow(dialog);
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    app.taskbarList.reset();
    app.worker = nullptr;
    worker.reset();
    listener.reset();
    uiSeam = systemUiSeam();
}

void UiTest::click(int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(item(id)));
}

std::wstring UiTest::text(HWND window) const {
    std::wstring result(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    result.resize(static_cast<size_t>(GetWindowTextW(window, result.data(), static_cast<int>(result.size()))));
    return result;
}

std::wstring UiTest::statusText() const {
    return text(item(IDC_STATUS));
}

int UiTest::rowCount() const {
    return static_cast<int>(SendMessageW(item(IDC_ENTRY_LIST), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring UiTest::cell(int row, int column) const {
    wchar_t buffer[MAX_PATH] = {};
    LVITEMW request{};
    request.iSubItem = column;
    request.pszText = buffer;
    request.cchTextMax = MAX_PATH;
    SendMessageW(item(IDC_ENTRY_LIST), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&request));
    return buffer;
}

int UiTest::rowImage(int row) const {
    LVITEMW request{};
    request.mask = LVIF_IMAGE;
    request.iItem = row;
    request.iImage = -1;
    SendMessageW(item(IDC_ENTRY_LIST), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&request));
    return request.iImage;
}

void UiTest::selectRows(std::initializer_list<int> rows) {
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED;
    state.state = 0;
    SendMessageW(item(IDC_ENTRY_LIST), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED;
    for (const int row : rows) {
        SendMessageW(item(IDC_ENTRY_LIST), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    }
}

std::vector<std::wstring> UiTest::names() const {
    std::vector<std::wstring> result;
    for (int row = 0; row < rowCount(); ++row) {
        result.push_back(cell(row, 0));
    }
    return result;
}

void UiTest::typeFilter(const std::wstring& filterText) {
    SetWindowTextW(item(IDC_FILTER), filterText.c_str());
}

void UiTest::pressEnterInFilter() {
    SendMessageW(item(IDC_FILTER), WM_KEYDOWN, VK_RETURN, 0);
}

void UiTest::clickHeader(int column) {
    NMLISTVIEW click{};
    click.hdr.hwndFrom = item(IDC_ENTRY_LIST);
    click.hdr.idFrom = IDC_ENTRY_LIST;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    SendMessageW(dialog, WM_NOTIFY, IDC_ENTRY_LIST, reinterpret_cast<LPARAM>(&click));
}

bool UiTest::pumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) {
            return true;
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(10, timeoutMs - elapsed), QS_ALLINPUT);
    }
}

void UiTest::openArchive(const std::u16string& path) {
    seamLog.fileAnswers.push_back(asWide(path));
    click(IDC_OPEN);
    ASSERT_NE(app.currentArchive, nullptr) << "the archive did not open";
}

void UiTest::startWorker() {
    ASSERT_TRUE(worker->start());
    workerStarted = true;
}

uint32_t UiTest::takeHandedOverTask(std::unique_ptr<TaskArgs>* record) {
    // The signal stays set; a later start() would read the cleared code and ignore it.
    return worker->takeHandedOverTask(record);
}

void UiTest::sendFinished(uint32_t code, LPARAM result, int failure) {
    // As the window's listener posts it: the completion, which the window takes over. A repack's
    // record travels in `result`, as the completion's record.
    auto completion = std::make_unique<TaskCompletion>();
    completion->code = code;
    if (code == TASK_RECOMPRESS) {
        auto* const record = reinterpret_cast<RecompressArgs*>(result);
        completion->args.reset(record);
        if (failure != 0) completion->outcome = codeFailure(failure);
    } else if (result != 0) {
        // The archive's last failure when it is the one the task ended with, as the task returns it.
        const FailureReason* recorded = app.currentArchive != nullptr ? &app.currentArchive->lastError : nullptr;
        completion->outcome = recorded != nullptr && recorded->code == result ? *recorded
                                                                               : codeFailure(static_cast<int>(result));
    }
    SendMessageW(dialog, WM_TASK_FINISHED, code, reinterpret_cast<LPARAM>(completion.release()));
}
