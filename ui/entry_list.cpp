// The owner-data entry list: rows are list indexes into currentArchive, texts are made on demand.
//
// Safety while a task runs: the list keeps painting and sorting during every task, and some tasks
// change what it reads. Adding appends to the entry vectors (which may move them) and renames,
// a save re-sorts `entries`, and a recompress destroys the whole archive. Two rules keep the
// list's reads harmless:
//  - The core changes the entry vectors and names only while holding the archive's listLock
//    exclusively; every read here (cell texts, filter, sort) holds it shared. The core never
//    sends a message to this window while holding it, so the two threads cannot wait on each other.
//  - A recompress is handed over with the list detached (app.listDetached, no rows): nothing
//    here touches the archive until WM_TASK_FINISHED brings the one to continue with.
// Window-thread commands that change entries directly (delete, rename) run only when no task does.

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "archive/archive.h"
#include "platform/code_page.h"
#include "ui/app.h"
#include "ui/controls.h"
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
    std::shared_lock<std::shared_mutex> lock;
};

struct Column {
    const wchar_t* header;
    int format;
    int width;
};
constexpr Column COLUMNS[] = {
    {L"文件名", LVCFMT_IMAGE, 460},
    {L"压缩长度", LVCFMT_RIGHT, 72},
    {L"原始长度", LVCFMT_RIGHT, 72},
    {L"位置", LVCFMT_RIGHT, 72},
};

bool isStoredIndex(uint32_t index) {
    const GrfArchive* const archive = listArchive();
    return archive != nullptr && index < archive->entries.size();
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

void copyNumber(uint32_t value, LVITEMW& item) {
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
        item.iImage = entry->state;
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
        stored ? copyNumber(entry->compressedSize, item) : copyCellText(NOT_STORED, 3, item);
        break;
    case 2: copyNumber(entry->originalSize, item); break;
    case 3:
        stored ? copyNumber(entry->offset, item) : copyCellText(NOT_STORED, 3, item);
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
    if (!name || name->empty() || !entry->rename(*name)) {
        uiSeam.messageBox(app.mainWindow, L"此文件名已存在，无法修改！", L"修改文件名", MB_ICONWARNING);
        return false;
    }
    refreshTitle();
    return true;
}

// ASCII letters fold to lower case, every other byte compares by its unsigned value.
unsigned char foldedByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

int compareNamesFolded(const std::string& a, const std::string& b) {
    const size_t length = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < length; ++i) {
        // Names share long prefixes: equal bytes need no folding.
        if (a[i] == b[i]) {
            continue;
        }
        const unsigned char x = foldedByte(a[i]);
        const unsigned char y = foldedByte(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

uint32_t indexAt(const void* element) {
    return *static_cast<const uint32_t*>(element);
}

int compareNames(const void* a, const void* b) {
    const GrfEntry* const x = entryForIndex(indexAt(a));
    const GrfEntry* const y = entryForIndex(indexAt(b));
    if (x == nullptr || y == nullptr) {
        return 0;
    }
    return compareNamesFolded(x->name, y->name);
}

// Stored rows before added rows, then by the field, as unsigned 32-bit numbers.
template <uint32_t GrfEntry::*field>
int compareField(const void* a, const void* b) {
    const uint32_t i = indexAt(a);
    const uint32_t j = indexAt(b);
    const bool storedI = isStoredIndex(i);
    const bool storedJ = isStoredIndex(j);
    if (storedI != storedJ) {
        return storedI ? -1 : 1;
    }
    const GrfEntry* const x = entryForIndex(i);
    const GrfEntry* const y = entryForIndex(j);
    if (x == nullptr || y == nullptr) {
        return 0;
    }
    const uint32_t u = x->*field;
    const uint32_t v = y->*field;
    return u < v ? -1 : (u > v ? 1 : 0);
}

}  // namespace

int compareByNameAscending(const void* a, const void* b) { return compareNames(a, b); }
int compareByNameDescending(const void* a, const void* b) { return compareNames(b, a); }
int compareByCompressedSizeAscending(const void* a, const void* b) {
    return compareField<&GrfEntry::compressedSize>(a, b);
}
int compareByCompressedSizeDescending(const void* a, const void* b) {
    return compareField<&GrfEntry::compressedSize>(b, a);
}
int compareByOriginalSizeAscending(const void* a, const void* b) {
    return compareField<&GrfEntry::originalSize>(a, b);
}
int compareByOriginalSizeDescending(const void* a, const void* b) {
    return compareField<&GrfEntry::originalSize>(b, a);
}
int compareByOffsetAscending(const void* a, const void* b) { return compareField<&GrfEntry::offset>(a, b); }
int compareByOffsetDescending(const void* a, const void* b) { return compareField<&GrfEntry::offset>(b, a); }

void setUpEntryList(HWND list) {
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR8 | ILC_MASK, 3, 0);
    static constexpr int PICTURES[][2] = {{IDB_ENTRY_STORED, IDB_ENTRY_STORED_MASK},
                                          {IDB_ENTRY_ADDED, IDB_ENTRY_ADDED_MASK},
                                          {IDB_ENTRY_DELETED, IDB_ENTRY_DELETED_MASK}};
    for (const auto& picture : PICTURES) {
        HBITMAP image = LoadBitmapW(app.instance, MAKEINTRESOURCEW(picture[0]));
        HBITMAP mask = LoadBitmapW(app.instance, MAKEINTRESOURCEW(picture[1]));
        ImageList_Add(images, image, mask);
        DeleteObject(image);
        DeleteObject(mask);
    }
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_FLATSB | LVS_EX_DOUBLEBUFFER);
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    int number = 0;
    for (const Column& column : COLUMNS) {
        LVCOLUMNW info{};
        info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        info.fmt = column.format;
        info.cx = column.width;
        info.pszText = const_cast<wchar_t*>(column.header);
        SendMessageW(list, LVM_INSERTCOLUMNW, number++, reinterpret_cast<LPARAM>(&info));
    }
}

GrfEntry* entryForIndex(uint32_t index) {
    const GrfArchive* const archive = listArchive();
    if (archive == nullptr) {
        return nullptr;
    }
    const size_t stored = archive->entries.size();
    if (index < stored) {
        return archive->entries[index].get();
    }
    const size_t added = index - stored;
    return added < archive->addedEntries.size() ? archive->addedEntries[added].get() : nullptr;
}

void applyFilter() {
    const GrfArchive* const archive = listArchive();
    if (archive == nullptr) {
        return;
    }
    const HWND box = control(IDC_FILTER);
    std::wstring filter(static_cast<size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    filter.resize(static_cast<size_t>(GetWindowTextW(box, filter.data(), static_cast<int>(filter.size()))));
    const std::u16string_view wanted(reinterpret_cast<const char16_t*>(filter.data()), filter.size());
    const bool korean = useKoreanNames();
    app.visibleEntries.clear();
    {
        const ListReadLock lock;
        const auto addMatches = [&](const auto& list, uint32_t firstIndex) {
            for (size_t i = 0; i < list.size(); ++i) {
                if (list[i]->displayName(korean).find(wanted) != std::u16string::npos) {
                    app.visibleEntries.push_back(firstIndex + static_cast<uint32_t>(i));
                }
            }
        };
        addMatches(archive->entries, 0);
        addMatches(archive->addedEntries, static_cast<uint32_t>(archive->entries.size()));
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
        added = static_cast<unsigned long>(archive->addedEntries.size());
        total = static_cast<unsigned long>(archive->entries.size()) + added;
    }
    wchar_t text[MAX_PATH];
    swprintf(text, MAX_PATH, L"显示 %lu 个文件 / 添加 %lu 个文件 / 总共 %lu 个文件",
             static_cast<unsigned long>(app.visibleEntries.size()), added, total);
    setControlText(IDC_STATUS, text);
}

namespace {

// Sixteen folded bytes of a name from `depth` on, big-endian and zero-padded, so that comparing
// the two words compares those bytes as the name order does (a name ending inside the window
// sorts before its extensions; names hold no zero bytes).
struct NameKey {
    uint64_t head;
    uint64_t next;
    const std::string* name;
    uint32_t index;
};

void takeNameWindow(NameKey& key, size_t depth) {
    key.head = 0;
    key.next = 0;
    for (size_t i = 0; i < 16; ++i) {
        const size_t at = depth + i;
        uint64_t& word = i < 8 ? key.head : key.next;
        word = word << 8 | (at < key.name->size() ? foldedByte((*key.name)[at]) : 0);
    }
}

// Sorts by sixteen bytes at a time and goes deeper only into runs that are equal so far: names
// share long prefixes, and comparing whole names would touch each name's memory at every step.
void sortNames(std::vector<NameKey>::iterator first, std::vector<NameKey>::iterator last, size_t depth,
               bool ascending) {
    for (auto key = first; key != last; ++key) {
        takeNameWindow(*key, depth);
    }
    std::sort(first, last, [ascending](const NameKey& a, const NameKey& b) {
        const NameKey& x = ascending ? a : b;
        const NameKey& y = ascending ? b : a;
        return x.head != y.head ? x.head < y.head : x.next < y.next;
    });
    for (auto run = first; run != last;) {
        auto end = run + 1;
        bool longer = run->name->size() > depth + 16;
        while (end != last && end->head == run->head && end->next == run->next) {
            longer = longer || end->name->size() > depth + 16;
            ++end;
        }
        // Names whose windows are all equal and that all end inside them are equal: any order.
        if (end - run > 1 && longer) {
            sortNames(run, end, depth + 16, ascending);
        }
        run = end;
    }
}

// The sort works on keys taken from the entries once, not through the comparators: resolving two
// entries per comparison costs several cache misses each, which made a 400,000-row sort take
// seconds. The order is the comparators' order; rows they call equal have no order either way.
void sortRows(int column, bool ascending) {
    std::vector<uint32_t>& rows = app.visibleEntries;
    if (column == 0) {
        static const std::string NO_NAME;
        std::vector<NameKey> keys;
        keys.reserve(rows.size());
        for (const uint32_t index : rows) {
            const GrfEntry* const entry = entryForIndex(index);
            keys.push_back({0, 0, entry != nullptr ? &entry->name : &NO_NAME, index});
        }
        sortNames(keys.begin(), keys.end(), 0, ascending);
        for (size_t i = 0; i < keys.size(); ++i) {
            rows[i] = keys[i].index;
        }
        return;
    }
    // Stored rows before added ones, then the field: one 64-bit key per row.
    struct NumberKey {
        uint64_t key;
        uint32_t index;
    };
    std::vector<NumberKey> keys;
    keys.reserve(rows.size());
    for (const uint32_t index : rows) {
        const GrfEntry* const entry = entryForIndex(index);
        uint32_t value = 0;
        if (entry != nullptr) {
            value = column == 1 ? entry->compressedSize : column == 2 ? entry->originalSize : entry->offset;
        }
        const uint64_t group = isStoredIndex(index) ? 0 : 1;
        keys.push_back({group << 32 | value, index});
    }
    std::sort(keys.begin(), keys.end(), [ascending](const NumberKey& a, const NumberKey& b) {
        return ascending ? a.key < b.key : b.key < a.key;
    });
    for (size_t i = 0; i < keys.size(); ++i) {
        rows[i] = keys[i].index;
    }
}

}  // namespace

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
    {
        const ListReadLock lock;
        sortRows(app.sortColumn, app.sortDirection > 0);
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
    default:
        return 0;
    }
}

LRESULT CALLBACK filterKeyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
