#pragma once
#include <windows.h>
#include <commdlg.h>
#include <shobjidl.h>

#include <string>

// Everything the window asks of the user or of the shell goes through here, so the tests can
// answer in place of the real pickers, message boxes and taskbar.
struct UiSeam {
    BOOL (*getSaveFileName)(OPENFILENAMEW* request);
    BOOL (*getOpenFileName)(OPENFILENAMEW* request);
    // False when cancelled; `folder` holds the chosen path otherwise.
    bool (*browseForFolder)(HWND owner, const wchar_t* title, std::wstring& folder);
    int (*messageBox)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
    // An initialised taskbar list object with one reference, or a failure code.
    HRESULT (*createTaskbarList)(ITaskbarList3** list);
    // Shows a popup menu at screen point (x, y); the chosen command, or 0 when dismissed.
    UINT (*trackPopupMenu)(HMENU menu, HWND owner, int x, int y);
    // The window the user works in; which one that is, is the desktop's business, not the tests'.
    HWND (*foregroundWindow)();
};

extern UiSeam uiSeam;

// The real implementations, for tests that put them back.
UiSeam systemUiSeam();
