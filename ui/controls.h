#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstddef>

#include "ui/app.h"
#include "ui/resource.h"

// One line per repeated control call on the main dialog.

inline HWND control(int id) {
    return GetDlgItem(app.mainWindow, id);
}

inline bool isChecked(int id) {
    return SendMessageW(control(id), BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

inline void enableControl(int id, bool enabled) {
    EnableWindow(control(id), enabled ? TRUE : FALSE);
}

inline void setControlText(int id, const wchar_t* text) {
    SetWindowTextW(control(id), text);
}

inline void setListItemCount(size_t count) {
    SendMessageW(control(IDC_ENTRY_LIST), LVM_SETITEMCOUNT, count, 0);
}

inline void invalidateList() {
    InvalidateRect(control(IDC_ENTRY_LIST), nullptr, TRUE);
}

inline int selectedRowCount() {
    return static_cast<int>(SendMessageW(control(IDC_ENTRY_LIST), LVM_GETSELECTEDCOUNT, 0, 0));
}

// The next selected row after `row` (-1 starts at the top), or -1.
inline int nextSelectedRow(int row) {
    return static_cast<int>(SendMessageW(control(IDC_ENTRY_LIST), LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                         MAKELPARAM(LVNI_SELECTED, 0)));
}

inline void changeStyle(HWND window, LONG_PTR bits, bool set) {
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    SetWindowLongPtrW(window, GWL_STYLE, set ? style | bits : style & ~bits);
}

// The option controls, read whenever a command needs them.
inline bool useKoreanNames() {
    return isChecked(IDC_KOREAN_NAMES);
}
inline bool keepDirs() {
    return isChecked(IDC_KEEP_DIRS);
}
inline int compressionLevel() {
    return static_cast<int>(SendMessageW(control(IDC_LEVEL), CB_GETCURSEL, 0, 0));
}
