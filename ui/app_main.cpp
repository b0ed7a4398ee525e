#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "archive/model/archive.h"
#include "archive/format/name_hash.h"
#include "ui/app.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/ui_seam.h"
#include "ui/window_listener.h"
#include "worker/task_worker.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    CoInitialize(nullptr);
    app.instance = instance;
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    app.mainWindow = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProc, 0);
    if (app.mainWindow == nullptr) {
        CoUninitialize();
        return 1;
    }
    setUiState(UI_NO_ARCHIVE);

    // The window exists first: the worker sends to it from its first task on.
    WindowListener listener(app.mainWindow);
    TaskWorker worker(listener);
    if (!worker.start()) {
        uiSeam.messageBox(app.mainWindow, L"无法启动后台线程，程序将退出。", L"错误", MB_ICONERROR);
        DestroyWindow(app.mainWindow);
        CoUninitialize();
        return 1;
    }
    app.worker = &worker;
    ShowWindow(app.mainWindow, SW_SHOWDEFAULT);
    refreshTitle();
    openFromCommandLine(GetCommandLineW());

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // The dialog manager's keys: Tab and Shift+Tab between the controls, Enter as IDOK.
        if (IsDialogMessageW(app.mainWindow, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    shutDownPreview();

    // Normally already closed: the window is destroyed only without an archive.
    endCurrentArchive();
    worker.stop();
    app.worker = nullptr;
    app.taskbarList.reset();   // before COM goes
    CoUninitialize();
    return 0;
}
