// The entry list's context menu and keys, and copying names to the clipboard.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "archive/model/archive.h"
#include "ui/app.h"
#include "ui/controls.h"
#include "ui/main_dialog.h"
#include "ui/ui_seam.h"
#include "ui/wide.h"

namespace {

HWND entryList() {
    return control(IDC_ENTRY_LIST);
}

int focusedRow() {
    return static_cast<int>(SendMessageW(entryList(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                         MAKELPARAM(LVNI_FOCUSED, 0)));
}

void selectAllRows() {
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    SendMessageW(entryList(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
}

void renameCurrentRow() {
    const int row = currentRow();
    if (row < 0 || app.uiState == UI_BUSY || app.currentArchive == nullptr) {
        return;
    }
    SetFocus(entryList());
    SendMessageW(entryList(), LVM_EDITLABELW, static_cast<WPARAM>(row), 0);
}

// Clipboard text must live in movable global memory that the clipboard then owns.
bool putOnClipboard(const std::wstring& text) {
    if (!OpenClipboard(app.mainWindow)) {
        return false;
    }
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool placed = false;
    if (memory != nullptr) {
        void* const target = GlobalLock(memory);
        if (target != nullptr) {
            std::memcpy(target, text.c_str(), bytes);
            GlobalUnlock(memory);
            placed = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        if (!placed) {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
    return placed;
}

}  // namespace

int currentRow() {
    const int focused = focusedRow();
    if (focused >= 0 && static_cast<size_t>(focused) < app.visibleEntries.size()) {
        return focused;
    }
    const int selected = nextSelectedRow(-1);
    return selected >= 0 && static_cast<size_t>(selected) < app.visibleEntries.size() ? selected : -1;
}

void copySelectedNames() {
    const GrfArchive* const archive = listArchive();
    if (archive == nullptr || selectedRowCount() == 0) {
        return;
    }
    std::wstring text;
    {
        // Names are read as shown; a task may rename entries meanwhile.
        const std::shared_lock lock(archive->listLock);
        const bool korean = useKoreanNames();
        for (int row = nextSelectedRow(-1); row != -1; row = nextSelectedRow(row)) {
            if (static_cast<size_t>(row) >= app.visibleEntries.size()) {
                break;
            }
            const GrfEntry* const entry = entryForIndex(app.visibleEntries[row]);
            if (entry == nullptr) {
                continue;
            }
            if (!text.empty()) {
                text += L"\r\n";
            }
            text += asWide(entry->displayName(korean));
        }
    }
    if (!text.empty() && !putOnClipboard(text)) {
        MessageBeep(MB_ICONWARNING);
    }
}

void onListContextMenu(LPARAM screenPoint) {
    if (listArchive() == nullptr) {
        return;
    }
    // Signed halves: a second monitor left of the first has negative coordinates.
    POINT at{static_cast<short>(LOWORD(screenPoint)), static_cast<short>(HIWORD(screenPoint))};
    // From the keyboard (Shift+F10, the menu key) the menu opens at the current row.
    if (screenPoint == -1) {
        RECT bounds{LVIR_BOUNDS, 0, 0, 0};
        const int row = currentRow();
        if (row < 0 || !SendMessageW(entryList(), LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds))) {
            GetClientRect(entryList(), &bounds);
        }
        at = {bounds.left + 16, bounds.bottom};
        ClientToScreen(entryList(), &at);
    }
    const bool idle = app.uiState != UI_BUSY;
    const bool anySelected = selectedRowCount() > 0;
    const bool hasRow = currentRow() >= 0;
    HMENU menu = CreatePopupMenu();
    const auto add = [menu](UINT id, const wchar_t* text, bool enabled) {
        AppendMenuW(menu, MF_STRING | (enabled ? MF_ENABLED : MF_GRAYED), id, text);
    };
    add(IDM_PREVIEW, L"预览\tEnter", idle && hasRow);
    SetMenuDefaultItem(menu, IDM_PREVIEW, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    add(IDM_EXTRACT, L"提取选定", idle && anySelected);
    add(IDM_DELETE, L"删除选定\tDel", idle && anySelected);
    add(IDM_RENAME, L"修改文件名\tF2", idle && hasRow);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    add(IDM_COPY_NAME, L"复制文件名\tCtrl+C", anySelected);
    const UINT chosen = uiSeam.trackPopupMenu(menu, app.mainWindow, at.x, at.y);
    DestroyMenu(menu);
    if (chosen != 0) {
        onListCommand(chosen);
    }
}

bool onListCommand(WPARAM command) {
    switch (LOWORD(command)) {
    case IDM_PREVIEW: openPreview(); return true;
    case IDM_EXTRACT:
        if (app.uiState != UI_BUSY) {
            extractSelected();
        }
        return true;
    case IDM_DELETE: deleteSelected(); return true;
    case IDM_RENAME: renameCurrentRow(); return true;
    case IDM_COPY_NAME: copySelectedNames(); return true;
    default: return false;
    }
}

void onListKey(WORD key) {
    const bool controlDown = GetKeyState(VK_CONTROL) < 0;
    if (key == VK_DELETE && !controlDown) {
        deleteSelected();
    } else if (key == VK_F2 && !controlDown) {
        renameCurrentRow();
    } else if (key == 'A' && controlDown) {
        selectAllRows();
    } else if (key == 'C' && controlDown) {
        copySelectedNames();
    }
}
