#pragma once
#include <windows.h>
#include <shobjidl.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ui/com_ptr.h"

class GrfArchive;
class TaskWorker;

// A folder or archive dropped on the window, waiting for the task before it to end.
struct PendingAdd {
    uint32_t task;          // TASK_ADD_DIRECTORY or TASK_ADD_ARCHIVE
    std::u16string path;
};

enum UiState : int { UI_NO_ARCHIVE = 0, UI_ARCHIVE_OPEN = 1, UI_BUSY = 2 };

// The window-side state. One of each; read and written on the window thread only (the worker
// reaches its TaskWorker through its own reference, never through this).
struct App {
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    // Ended only by endCurrentArchive. A recompress takes it over at the hand-over (it is null
    // while that task runs) and its end brings the archive to continue with.
    std::unique_ptr<GrfArchive> currentArchive;
    TaskWorker* worker = nullptr;           // not owned
    ComPtr<ITaskbarList3> taskbarList;      // empty until the shell announces the button
    // Registered before WinMain runs, during static initialisation.
    UINT taskbarButtonCreatedMessage = RegisterWindowMessageW(L"TaskbarButtonCreated");
    int uiState = UI_NO_ARCHIVE;
    uint64_t shownTotal = 0;
    std::vector<uint32_t> visibleEntries;   // list indexes, one per row
    int sortColumn = 0;
    int sortDirection = 1;
    WNDPROC originalFilterProc = nullptr;
    HWND previewWindow = nullptr;           // the one preview, or null
    std::deque<PendingAdd> pendingAdds;     // the rest of a drop, one task after another
    uint64_t leftOutCount = 0;              // items the running task left out or failed
    std::wstring leftOutText;               // the first of them, one line each, with their causes
};

extern App app;

// The archive the list may read, or null.
inline GrfArchive* listArchive() {
    return app.currentArchive.get();
}
