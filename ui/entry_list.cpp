// The owner-data entry list: rows are list indexes into currentArchive, texts are made on demand.
//
// Safety while a task runs: the list keeps painting and sorting during every task, and some tasks
// change what it reads. Adding appends to the entry vectors (which may move them) and renames,
// a save re-sorts `entries`, and a recompress destroys the whole archive. Two rules keep the
// list's reads harmless:
//  - The core changes the entry vectors and names only while holding the archive's listLock
//    exclusively; every read here (cell texts, filter, sort) holds it shared. The core never
//    sends a message to this window while holding it, so the two threads cannot wait on each other.
//  - A recompress takes the archive over with no rows left (app.currentArchive is null): nothing
//    here touches an archive until WM_TASK_FINISHED brings the one to continue with.
// Window-thread commands that change entries directly (delete, rename) run only when no task does.

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "archive/model/archive.h"
#include "archive/model/entry_list_model.h"
#include "platform/code_page.h"
#include "ui/app.h"
#include "ui/controls.h"
#include "ui/dpi.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/ui_seam.h"
#include "ui/wide.h"

namespace {

// Shared hold on the list archive's lock, or nothing when no archive is readable. Not re-entrant:
// entryForIndex and the sort run inside one of these and never take another.
class ListReadLock {
public:
    ListReadLock() {
        if (GrfArchive* const archive = listArchive()) {
            lock = std::shared_lock(archive->listLock);
        }
    }

private:
    std::shared_lock<platform::SharedMutex> lock;
};

struct Column {
    const wchar_t* header;
    int format;
    int width;   // at 96 DPI
};
constexpr Column COLUMNS[] = {
    {L"文件名", LVCFMT_IMAGE, 460},
    {L"压缩长度", LVCFMT_RIGHT, 72},
    {L"原始长度", LVCFMT_RIGHT, 72},
    {L"位置", LVCFMT_RIGHT, 72},
};
// Room beside a header's text for the header's own margins, at 96 DPI.
constexpr int HEADER_TEXT_MARGIN = 16;

// The DPI the list's pixel sizes were last set for.
UINT listDpi = BASE_DPI;

// A column's width at `dpi`, and never narrower than its header text in the list's font: a
// font can grow faster than the DPI (another face, hinting), and a cut header reads "压缩...".
int columnWidth(HWND list, const Column& column, int width, UINT dpi) {
    const int text = static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(column.header)));
    return std::max(width, text + scaleToDpi(HEADER_TEXT_MARGIN, dpi));
}

// The row pictures at the small icon size of `dpi`, each from the icon's own drawing of that
// size (16 pixels at 96 DPI, 24 at 144, 32 at 192), never a small one stretched.
HIMAGELIST createRowImages(UINT dpi) {
    const int side = systemMetricAtDpi(SM_CXSMICON, dpi);
    HIMAGELIST images = ImageList_Create(side, side, ILC_COLOR32 | ILC_MASK, 3, 0);
    for (const int id : {IDI_ENTRY_STORED, IDI_ENTRY_ADDED, IDI_ENTRY_DELETED}) {
        const auto icon =
            static_cast<HICON>(LoadImageW(app.instance, MAKEINTRESOURCEW(id), IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
        ImageList_AddIcon(images, icon);
        DestroyIcon(icon);
    }
    return images;
}

// The list does not own an image list it is given only while it lives: the one replaced is ours.
void setRowImages(HWND list, UINT dpi) {
    const auto previous = reinterpret_cast<HIMAGELIST>(
        SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(createRowImages(dpi))));
    if (previous != nullptr) {
        ImageList_Destroy(previous);
    }
}

bool isStoredIndex(uint32_t index) {
    const GrfArchive* const archive = listArchive();
    return archive != nullptr && isStoredRow(*archive, index);
}

// Copies as much of `text` as the list's buffer holds, terminator included.
void copyCellText(const wchar_t* text, size_t length, LVITEMW& item) {
    if (item.pszText == nullptr || item.cchTextMax <= 0) {
        return;
    }
    const size_t room = static_cast<size_t>(item.cchTextMax) - 1;
    const size_t count = length < room ? length : room;
    std::copy_n(text, count, item.pszText);
    item.pszText[count] = L'\0';
}

void copyNumber(uint64_t value, LVITEMW& item) {
    const std::wstring text = std::to_wstring(value);
    copyCellText(text.c_str(), text.size(), item);
}

void fillCell(LVITEMW& item) {
    const ListReadLock lock;
    if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= app.visibleEntries.size()) {
        return;
    }
    const uint32_t index = app.visibleEntries[item.iItem];
    const GrfEntry* const entry = entryForIndex(index);
    if (entry == nullptr) {
        return;
    }
    if (item.mask & LVIF_IMAGE) {
        item.iImage = entry->state();
    }
    if (!(item.mask & LVIF_TEXT)) {
        return;
    }
    const bool stored = isStoredIndex(index);
    static constexpr wchar_t NOT_STORED[] = L"N/A";
    switch (item.iSubItem) {
    case 0: {
        const std::u16string& name = entry->displayName(useKoreanNames());
        copyCellText(asWide(name), name.size(), item);
        break;
    }
    case 1:
        stored ? copyNumber(entry->compressedSize(), item) : copyCellText(NOT_STORED, 3, item);
        break;
    case 2: copyNumber(entry->originalSize(), item); break;
    case 3:
        stored ? copyNumber(entry->offset(), item) : copyCellText(NOT_STORED, 3, item);
        break;
    default: break;
    }
}

// Why the new name cannot be taken: it does not convert exactly to the code page, needs more
// than a table name's 259 bytes, or another entry bears it. All three get the same warning.
bool renameEntry(const NMLVDISPINFOW& info) {
    if (info.item.iItem < 0 || static_cast<size_t>(info.item.iItem) >= app.visibleEntries.size()) {
        return false;
    }
    GrfEntry* const entry = entryForIndex(app.visibleEntries[info.item.iItem]);
    if (entry == nullptr) {
        return false;
    }
    const uint32_t codePage = useKoreanNames() ? platform::CODE_PAGE_KOREAN : platform::ansiCodePage();
    // A character the code page lacks would turn into '?', a name no file can take on extraction.
    const auto name = platform::encodeText(fromWide(info.item.pszText), codePage);
    if (!name || entry->rename(*name) != RenameResult::RENAMED) {
        uiSeam.messageBox(app.mainWindow, L"此文件名已存在，无法修改！", L"修改文件名", MB_ICONWARNING);
        return false;
    }
    refreshTitle();
    return true;
}

// The column's order as a qsort-style comparator over list indexes.
template <ListColumn column, bool ascending>
int compareColumn(const void* a, const void* b) {
    const GrfArchive* const archive = listArchive();
    if (archive == nullptr) {
        return 0;
    }
    return compareRows(*archive, *static_cast<const uint32_t*>(a), *static_cast<const uint32_t*>(b), column,
                       ascending);
}

}  // namespace

int compareByNameAscending(const void* a, const void* b) { return compareColumn<ListColumn::NAME, true>(a, b); }
int compareByNameDescending(const void* a, const void* b) { return compareColumn<ListColumn::NAME, false>(a, b); }
int compareByCompressedSizeAscending(const void* a, const void* b) {
    return compareColumn<ListColumn::COMPRESSED_SIZE, true>(a, b);
}
int compareByCompressedSizeDescending(const void* a, const void* b) {
    return compareColumn<ListColumn::COMPRESSED_SIZE, false>(a, b);
}
int compareByOriginalSizeAscending(const void* a, const void* b) {
    return compareColumn<ListColumn::ORIGINAL_SIZE, true>(a, b);
}
int compareByOriginalSizeDescending(const void* a, const void* b) {
    return compareColumn<ListColumn::ORIGINAL_SIZE, false>(a, b);
}
int compareByOffsetAscending(const void* a, const void* b) { return compareColumn<ListColumn::OFFSET, true>(a, b); }
int compareByOffsetDescending(const void* a, const void* b) { return compareColumn<ListColumn::OFFSET, false>(a, b); }

void setUpEntryList(HWND list) {
    listDpi = windowDpi(list);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_FLATSB | LVS_EX_DOUBLEBUFFER);
    setRowImages(list, listDpi);
    int number = 0;
    for (const Column& column : COLUMNS) {
        LVCOLUMNW info{};
        info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        info.fmt = column.format;
        info.cx = columnWidth(list, column, scaleToDpi(column.width, listDpi), listDpi);
        info.pszText = const_cast<wchar_t*>(column.header);
        SendMessageW(list, LVM_INSERTCOLUMNW, number++, reinterpret_cast<LPARAM>(&info));
    }
}

void onEntryListDpiChanged(HWND list, UINT dpi) {
    if (dpi == 0 || dpi == listDpi) {
        return;
    }
    // Widths scale with the DPI, so a column the user widened stays as wide next to its text.
    int number = 0;
    for (const Column& column : COLUMNS) {
        const int width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, number, 0));
        SendMessageW(list, LVM_SETCOLUMNWIDTH, number, columnWidth(list, column, MulDiv(width, dpi, listDpi), dpi));
        ++number;
    }
    setRowImages(list, dpi);
    listDpi = dpi;
}

GrfEntry* entryForIndex(uint32_t index) {
    const GrfArchive* const archive = listArchive();
    return archive != nullptr ? entryForRow(*archive, index) : nullptr;
}

void applyFilter() {
    const GrfArchive* const archive = listArchive();
    if (archive == nullptr) {
        return;
    }
    const HWND box = control(IDC_FILTER);
    std::wstring filter(static_cast<size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    filter.resize(static_cast<size_t>(GetWindowTextW(box, filter.data(), static_cast<int>(filter.size()))));
    const EntryFilter wanted(std::u16string_view(reinterpret_cast<const char16_t*>(filter.data()), filter.size()));
    {
        const ListReadLock lock;
        app.visibleEntries = filterRows(*archive, wanted, useKoreanNames());
    }
    setListItemCount(app.visibleEntries.size());
    refreshTitle();
    refreshStatusLine();
}

void refreshStatusLine() {
    const GrfArchive* const archive = listArchive();
    unsigned long added = 0;
    unsigned long total = 0;
    if (archive != nullptr) {
        const ListReadLock lock;
        added = static_cast<unsigned long>(archive->pendingEntries().size());
        total = static_cast<unsigned long>(archive->storedEntries().size()) + added;
    }
    wchar_t text[MAX_PATH];
    swprintf(text, MAX_PATH, L"显示 %lu 个文件 / 添加 %lu 个文件 / 总共 %lu 个文件",
             static_cast<unsigned long>(app.visibleEntries.size()), added, total);
    setControlText(IDC_STATUS, text);
}

void sortByColumn(int column) {
    if (column == app.sortColumn) {
        app.sortDirection = -app.sortDirection;
    } else {
        app.sortColumn = column;
        app.sortDirection = 1;
    }
    if (app.sortColumn < 0 || app.sortColumn > 3) {
        return;
    }
    if (const GrfArchive* const archive = listArchive()) {
        const ListReadLock lock;
        sortRows(*archive, app.visibleEntries, static_cast<ListColumn>(app.sortColumn), app.sortDirection > 0);
    }
    invalidateList();
}

LRESULT onEntryListNotify(NMHDR* notification) {
    switch (notification->code) {
    case LVN_GETDISPINFOW:
        fillCell(reinterpret_cast<NMLVDISPINFOW*>(notification)->item);
        return 1;
    case LVN_ENDLABELEDITW: {
        const auto& info = *reinterpret_cast<NMLVDISPINFOW*>(notification);
        // A cancelled edit carries no text.
        if (info.item.pszText == nullptr || app.uiState == UI_BUSY) {
            return 0;
        }
        return renameEntry(info) ? 1 : 0;
    }
    case LVN_COLUMNCLICK:
        sortByColumn(reinterpret_cast<NMLISTVIEW*>(notification)->iSubItem);
        return 0;
    case LVN_KEYDOWN:
        onListKey(reinterpret_cast<NMLVKEYDOWN*>(notification)->wVKey);
        return 0;
    case NM_DBLCLK:
    case NM_RETURN:
        openPreview();
        return 0;
    case LVN_ITEMCHANGED: {
        const auto& change = *reinterpret_cast<NMLISTVIEW*>(notification);
        if ((change.uChanged & LVIF_STATE) && (change.uNewState & LVIS_FOCUSED) && !(change.uOldState & LVIS_FOCUSED)) {
            onFocusedRowChanged();
        }
        return 0;
    }
    default:
        return 0;
    }
}

LRESULT CALLBACK filterKeyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The dialog manager turns Enter into the default button's click unless the box asks for it;
    // Tab and Shift+Tab it still handles.
    if (message == WM_GETDLGCODE && lParam != 0) {
        const MSG* const key = reinterpret_cast<const MSG*>(lParam);
        if (key->message == WM_KEYDOWN && key->wParam == VK_RETURN) {
            return CallWindowProcW(app.originalFilterProc, window, message, wParam, lParam) | DLGC_WANTALLKEYS;
        }
    }
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        applyFilter();
        return 1;
    }
    // Enter would also reach the box as a character, and a single-line edit box beeps at it.
    if (message == WM_CHAR && wParam == L'\r') {
        return 0;
    }
    return CallWindowProcW(app.originalFilterProc, window, message, wParam, lParam);
}
