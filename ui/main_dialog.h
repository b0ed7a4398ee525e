#pragma once
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class GrfEntry;
struct FailureReason;
struct TaskArgs;
struct TaskCompletion;

// Main dialog (main_dialog.cpp).
INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void initMainDialog(HWND window);
void setUiState(int state);
void refreshTitle();
void promptCloseArchive();
void extractSelected();
void deleteSelected();
// Open's steps once a path is chosen: the archive replaces none (no archive may be open).
// False, and the window as it was, when it does not open.
bool openArchiveAt(const std::u16string& path);
// Window thread: hands the task and its record to the worker and wakes it.
void handOverTask(uint32_t code, std::unique_ptr<TaskArgs> record);
// Closes and destroys the current archive, if any: the one place the window lets it go.
void endCurrentArchive();

// Entry list (entry_list.cpp).
// Columns, row pictures and styles, sized for the list's DPI.
void setUpEntryList(HWND list);
// WM_DPICHANGED: the column widths and row pictures follow the window to `dpi`.
void onEntryListDpiChanged(HWND list, UINT dpi);
// The entry a list index names, or null. Callers hold the list's read lock while a task may run.
GrfEntry* entryForIndex(uint32_t index);
void applyFilter();
void refreshStatusLine();
LRESULT onEntryListNotify(NMHDR* notification);
LRESULT CALLBACK filterKeyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Sorts the rows by `column`; a repeated column reverses the direction.
void sortByColumn(int column);

// The order of each column, as qsort-style comparators over list indexes (negative, zero, positive).
int compareByNameAscending(const void* a, const void* b);
int compareByNameDescending(const void* a, const void* b);
int compareByCompressedSizeAscending(const void* a, const void* b);
int compareByCompressedSizeDescending(const void* a, const void* b);
int compareByOriginalSizeAscending(const void* a, const void* b);
int compareByOriginalSizeDescending(const void* a, const void* b);
int compareByOffsetAscending(const void* a, const void* b);
int compareByOffsetDescending(const void* a, const void* b);

// Open from outside (shell_input.cpp).
// Opens the archive named by the program's first argument, if any.
void openFromCommandLine(const wchar_t* commandLine);
// WM_DROPFILES: reads the paths and hands them on; releases the drop.
void onDropFiles(HDROP drop);
// Without an archive, opens the first .grf/.gpf; with one, asks, then adds files, folders and
// archives. Nothing is taken while a task runs.
void handleDroppedPaths(const std::vector<std::u16string>& paths);
// Starts the next folder or archive of a drop, when the window is idle with an archive.
void continuePendingAdds();

// Context menu and keys of the list (list_commands.cpp).
void onListContextMenu(LPARAM screenPoint);
// Answers whether `command` is one of the menu's.
bool onListCommand(WPARAM command);
// LVN_KEYDOWN: Delete, F2, Ctrl+A, Ctrl+C.
void onListKey(WORD key);
void copySelectedNames();
// The focused row, else the first selected one, else -1.
int currentRow();

// Preview window (preview_window.cpp).
// Opens the preview on the current row, or shows that row in the open one.
void openPreview();
// The focused row changed: an open preview follows it.
void onFocusedRowChanged();
// Closes the preview: its entry is gone with the archive.
void closePreview();
void shutDownPreview();
// What the preview shows, for the tests.
struct PreviewState {
    bool open = false;
    std::wstring title;
    std::wstring header;      // name and sizes
    std::wstring reason;      // empty when the whole entry shows as its kind
    std::wstring body;        // text and hex views
    int imageWidth = 0;       // pictures: the decoded size
    int imageHeight = 0;
    COLORREF topLeft = 0;     // pictures: the first pixel
};
PreviewState previewState();

// Task progress (task_progress.cpp).
void onTaskStarted(uint32_t code);
void onTaskStatus(const wchar_t* text);
void onTaskTotal(uint64_t total);
void onTaskProgress(uint64_t done);
void onTaskFinished(std::unique_ptr<TaskCompletion> completion);
// A failure the user must see now, in a box under "错误": `what` and the reason's subject and cause.
void showFailure(const std::wstring& what, const FailureReason& reason);
struct FailureReason;
void onTaskItemFailed(const FailureReason* reason);
void onActivate();
void onTaskbarButtonCreated();
void setTaskbarState(TBPFLAG state);
