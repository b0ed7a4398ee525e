#pragma once
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

#include <cstdint>

class GrfEntry;

// Main dialog (main_dialog.cpp).
INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void initMainDialog(HWND window);
void setUiState(int state);
void refreshTitle();
void promptCloseArchive();
void extractSelected();
// Window thread: stores the task and its record in the worker and wakes it; the worker owns the record from here.
void handOverTask(uint32_t code, void* record);

// Entry list (entry_list.cpp).
void setUpEntryList(HWND list);
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

// Task progress (task_progress.cpp).
void onTaskStarted(uint32_t code);
void onTaskStatus(const wchar_t* text);
void onTaskTotal(uint64_t total);
void onTaskProgress(uint64_t done);
void onTaskFinished(uint32_t code, LPARAM result);
void onActivate();
void onTaskbarButtonCreated();
void setTaskbarState(TBPFLAG state);
