#include "ui/ui_seam.h"

#include <shlobj.h>

namespace {

bool browseForFolder(HWND owner, const wchar_t* title, std::wstring& folder) {
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = title;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (chosen == nullptr) {
        return false;
    }
    wchar_t path[MAX_PATH] = {};
    const BOOL converted = SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    // A virtual folder (Control Panel and the like) has no path to extract into or add from.
    if (!converted) {
        return false;
    }
    folder = path;
    return true;
}

int messageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    return MessageBoxW(owner, text, caption, type);
}

HRESULT createTaskbarList(ITaskbarList3** list) {
    *list = nullptr;
    ITaskbarList3* created = nullptr;
    HRESULT result = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                      reinterpret_cast<void**>(&created));
    if (FAILED(result)) {
        return result;
    }
    // The object must be initialised before any other call on it.
    result = created->HrInit();
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *list = created;
    return S_OK;
}

UINT trackPopupMenu(HMENU menu, HWND owner, int x, int y) {
    return static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, owner, nullptr));
}

}  // namespace

UiSeam systemUiSeam() {
    return UiSeam{GetSaveFileNameW, GetOpenFileNameW, browseForFolder, messageBox, createTaskbarList, trackPopupMenu,
                  GetForegroundWindow};
}

UiSeam uiSeam = systemUiSeam();
