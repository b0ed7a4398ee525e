// Drives the real quarnel.exe from a second process, the way a user would: real file and folder
// pickers, real message boxes. New -> Add directory -> Close (save) -> Open -> filter -> sort ->
// Extract all, then the extracted tree is compared with the source; then a recompress at level 9
// and a second extraction of the recompressed archive. Then the program is started again with the
// archive as its argument, and pictures and a text are previewed.
//   ui_drive PROGRAM.EXE [--pause-ms N] [--extra-files N] [--shots DIR]
//   ui_drive --opened TITLE ROWS   (only checks a main window started elsewhere, its rows and its
//                                   list's sizes at its DPI, then closes it)
// (pauses and extra files make the busy states long enough to look at; DIR receives BMP
// screenshots of the preview window)
// Prints one line per step; exit code 0 when every check passed.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/resource.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD STEP_TIMEOUT_MS = 30000;
constexpr UINT FILE_NAME_FIELD = 0x47C;  // cmb13 in the common file dialog
constexpr UINT BFFM_SETSELECTION_WIDE = WM_USER + 103;

int failures = 0;
DWORD pauseMs = 0;
int extraFiles = 0;
HANDLE program = nullptr;
std::wstring shotDir;

void appendLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++failures;
    }
}

void step(const char* name) {
    std::printf("STATE %s\n", name);
    std::fflush(stdout);
    if (pauseMs > 0) {
        Sleep(pauseMs);
    }
}

bool waitFor(const std::function<bool()>& done, DWORD timeoutMs = STEP_TIMEOUT_MS) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

std::wstring textOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
        return L"";
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        5000, &copied);
    text.resize(copied);
    return text;
}

std::string narrow(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<size_t>(size > 0 ? size - 1 : 0));
    return result;
}

// A visible top-level dialog of the program: by its caption, or by a child's text (the folder
// picker's caption is the system's own, its banner is our title).
HWND findDialog(const std::wstring& text, bool byChild) {
    struct Search {
        std::wstring text;
        bool byChild;
        DWORD process;
        HWND found;
    } search{text, byChild, GetProcessId(program), nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t className[16] = {};
            GetClassNameW(window, className, 16);
            if (owner != s.process || !IsWindowVisible(window) || wcscmp(className, L"#32770") != 0) {
                return TRUE;
            }
            if (!s.byChild) {
                if (textOf(window) == s.text) {
                    s.found = window;
                    return FALSE;
                }
                return TRUE;
            }
            EnumChildWindows(
                window,
                [](HWND child, LPARAM inner) -> BOOL {
                    auto& t = *reinterpret_cast<Search*>(inner);
                    if (textOf(child) == t.text) {
                        t.found = GetAncestor(child, GA_ROOT);
                        return FALSE;
                    }
                    return TRUE;
                },
                data);
            return s.found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForDialog(const std::wstring& text, bool byChild = false) {
    HWND found = nullptr;
    waitFor([&] { return (found = findDialog(text, byChild)) != nullptr; });
    return found;
}

bool waitGone(HWND window) {
    return waitFor([window] { return !IsWindow(window); });
}

// Memory inside the program, for messages whose parameters point at buffers.
class RemoteBuffer {
public:
    explicit RemoteBuffer(size_t size)
        : address(VirtualAllocEx(program, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~RemoteBuffer() { VirtualFreeEx(program, address, 0, MEM_RELEASE); }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    void write(const void* bytes, size_t size, size_t at = 0) {
        WriteProcessMemory(program, static_cast<char*>(address) + at, bytes, size, nullptr);
    }
    void read(void* bytes, size_t size, size_t at = 0) const {
        ReadProcessMemory(program, static_cast<const char*>(address) + at, bytes, size, nullptr);
    }
    LPARAM at(size_t offset = 0) const { return reinterpret_cast<LPARAM>(static_cast<char*>(address) + offset); }

private:
    void* address;
};

void press(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

// Waits until the window thread has handled everything up to now.
void settle(HWND window) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, STEP_TIMEOUT_MS, &ignored);
}

bool answerFileDialog(const std::wstring& title, const std::wstring& path) {
    const HWND picker = waitForDialog(title);
    if (picker == nullptr) {
        return false;
    }
    const HWND field = GetDlgItem(picker, FILE_NAME_FIELD);
    SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    PostMessageW(picker, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(picker, IDOK)));
    return waitGone(picker);
}

// The text of the folder the picker's tree has selected.
std::wstring pickerSelection(HWND picker) {
    const HWND tree = FindWindowExW(picker, nullptr, WC_TREEVIEWW, nullptr);
    DWORD_PTR selected = 0;
    SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_ABORTIFHUNG, 5000, &selected);
    if (selected == 0) {
        return L"";
    }
    constexpr size_t CHARS = 260;
    RemoteBuffer buffer(sizeof(TVITEMW) + CHARS * sizeof(wchar_t));
    TVITEMW request{};
    request.mask = TVIF_TEXT;
    request.hItem = reinterpret_cast<HTREEITEM>(selected);
    request.pszText = reinterpret_cast<wchar_t*>(buffer.at(sizeof(TVITEMW)));
    request.cchTextMax = CHARS;
    buffer.write(&request, sizeof(request));
    SendMessageTimeoutW(tree, TVM_GETITEMW, 0, buffer.at(), SMTO_ABORTIFHUNG, 5000, nullptr);
    std::wstring text(CHARS, L'\0');
    buffer.read(text.data(), CHARS * sizeof(wchar_t), sizeof(TVITEMW));
    text.resize(wcslen(text.c_str()));
    return text;
}

bool answerFolderPicker(const std::wstring& banner, const std::wstring& folder) {
    const HWND picker = waitForDialog(banner, true);
    if (picker == nullptr) {
        return false;
    }
    RemoteBuffer path((folder.size() + 1) * sizeof(wchar_t));
    path.write(folder.c_str(), (folder.size() + 1) * sizeof(wchar_t));
    const std::wstring leaf = fs::path(folder).filename().wstring();
    // The tree fills in steps; select again until it shows our folder.
    const bool selected = waitFor(
        [&] {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(picker, BFFM_SETSELECTION_WIDE, TRUE, path.at(), SMTO_ABORTIFHUNG, 5000, &ignored);
            Sleep(100);
            return pickerSelection(picker) == leaf;
        },
        5000);
    if (!selected) {
        std::printf("picker shows \"%s\", not \"%s\"\n", narrow(pickerSelection(picker)).c_str(), narrow(leaf).c_str());
    }
    PostMessageW(picker, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(picker, IDOK)));
    return waitGone(picker);
}

// Reads the message box text, answers it with `button` and waits for it to go.
std::wstring answerMessageBox(const std::wstring& caption, int button) {
    const HWND box = waitForDialog(caption);
    if (box == nullptr) {
        return L"(no box)";
    }
    const std::wstring text = textOf(GetDlgItem(box, 0xFFFF));
    step("message-box");
    press(GetDlgItem(box, button));
    waitGone(box);
    return text;
}

int itemCount(HWND list) {
    DWORD_PTR count = 0;
    SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    return static_cast<int>(count);
}

std::wstring cellText(HWND list, int row, int column) {
    constexpr size_t CHARS = 260;
    RemoteBuffer buffer(sizeof(LVITEMW) + CHARS * sizeof(wchar_t));
    LVITEMW request{};
    request.iSubItem = column;
    request.cchTextMax = CHARS;
    request.pszText = reinterpret_cast<wchar_t*>(buffer.at(sizeof(LVITEMW)));
    buffer.write(&request, sizeof(request));
    DWORD_PTR length = 0;
    SendMessageTimeoutW(list, LVM_GETITEMTEXTW, row, buffer.at(), SMTO_ABORTIFHUNG, 5000, &length);
    std::wstring text(CHARS, L'\0');
    buffer.read(text.data(), CHARS * sizeof(wchar_t), sizeof(LVITEMW));
    text.resize(wcslen(text.c_str()));
    return text;
}

void clickHeader(HWND list, int column) {
    DWORD_PTR header = 0;
    SendMessageTimeoutW(list, LVM_GETHEADER, 0, 0, SMTO_ABORTIFHUNG, 5000, &header);
    RemoteBuffer rectangle(sizeof(RECT));
    SendMessageTimeoutW(reinterpret_cast<HWND>(header), HDM_GETITEMRECT, column, rectangle.at(), SMTO_ABORTIFHUNG,
                        5000, nullptr);
    RECT bounds{};
    rectangle.read(&bounds, sizeof(bounds));
    const LPARAM point = MAKELPARAM((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
    PostMessageW(reinterpret_cast<HWND>(header), WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(reinterpret_cast<HWND>(header), WM_LBUTTONUP, 0, point);
}

// The window's pixels as the screen shows them, into a 24-bit BMP file.
void saveScreenshot(HWND window, const std::wstring& name) {
    if (shotDir.empty()) {
        return;
    }
    RECT bounds{};
    GetWindowRect(window, &bounds);
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    // The window's own DC: under Wine the desktop's DC does not read back what other windows drew.
    HDC screen = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ previous = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    const uint32_t rowBytes = (uint32_t(width) * 3 + 3) / 4 * 4;
    std::string pixels(rowBytes * uint32_t(height), '\0');
    GetDIBits(memory, picture, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    std::string file = "BM";
    appendLe(file, 54 + uint32_t(pixels.size()), 4);
    appendLe(file, 0, 4);
    appendLe(file, 54, 4);
    file.append(reinterpret_cast<const char*>(&info.bmiHeader), 40);
    file += pixels;
    std::ofstream(fs::path(shotDir) / name, std::ios::binary) << file;
    std::printf("screenshot %s\n", narrow(name).c_str());
}

// The program's preview window, if it shows.
HWND findPreview() {
    struct Search {
        DWORD process;
        HWND found;
    } search{GetProcessId(program), nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t className[32] = {};
            GetClassNameW(window, className, 32);
            if (owner == s.process && IsWindowVisible(window) && wcscmp(className, L"QuarnelPreview") == 0) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int rowNamed(HWND list, const std::wstring& name) {
    for (int row = 0; row < itemCount(list); ++row) {
        if (cellText(list, row, 0) == name) {
            return row;
        }
    }
    return -1;
}

// Clicks (or double-clicks) the middle of the row's name, as the mouse would.
void clickRow(HWND list, int row, bool twice) {
    SendMessageTimeoutW(list, LVM_ENSUREVISIBLE, row, FALSE, SMTO_ABORTIFHUNG, 5000, nullptr);
    RemoteBuffer rectangle(sizeof(RECT));
    RECT bounds{LVIR_LABEL, 0, 0, 0};
    rectangle.write(&bounds, sizeof(bounds));
    SendMessageTimeoutW(list, LVM_GETITEMRECT, row, rectangle.at(), SMTO_ABORTIFHUNG, 5000, nullptr);
    rectangle.read(&bounds, sizeof(bounds));
    const LPARAM point = MAKELPARAM(bounds.left + 20, (bounds.top + bounds.bottom) / 2);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(list, WM_LBUTTONUP, 0, point);
    if (twice) {
        PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
        PostMessageW(list, WM_LBUTTONUP, 0, point);
    }
}

// The preview's title once it names `name`.
bool previewShows(const std::wstring& name) {
    return waitFor([&] {
        const HWND preview = findPreview();
        return preview != nullptr && textOf(preview) == L"预览 - " + name;
    }, 10000);
}

std::map<std::wstring, std::string> readTree(const fs::path& root) {
    std::map<std::wstring, std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; it != end; it.increment(error)) {
        if (!it->is_regular_file()) {
            continue;
        }
        std::ifstream in(it->path(), std::ios::binary);
        files[fs::relative(it->path(), root).wstring()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

// A 96 × 64 colour gradient as a BMP (the system's decoder) and a 64 × 48 TGA with an alpha
// circle (ours), so the screenshots show whether rows, colours and transparency come out right.
void writePictures(const fs::path& folder) {
    fs::create_directories(folder);
    const uint32_t width = 96, height = 64, rowBytes = width * 3;
    std::string bmp = "BM";
    appendLe(bmp, 54 + rowBytes * height, 4);
    appendLe(bmp, 0, 4);
    appendLe(bmp, 54, 4);
    appendLe(bmp, 40, 4);
    appendLe(bmp, width, 4);
    appendLe(bmp, height, 4);
    appendLe(bmp, 1, 2);
    appendLe(bmp, 24, 2);
    appendLe(bmp, 0, 24);
    for (uint32_t y = 0; y < height; ++y) {        // bottom row first
        for (uint32_t x = 0; x < width; ++x) {
            bmp.push_back(static_cast<char>(x * 255 / width));          // blue grows to the right
            bmp.push_back(static_cast<char>(y * 255 / height));         // green grows upwards
            bmp.push_back(static_cast<char>(x < 8 && y > height - 9 ? 255 : 64));  // red top-left mark
        }
    }
    std::ofstream(folder / L"gradient.bmp", std::ios::binary) << bmp;

    const uint32_t side = 48, tgaWidth = 64;
    std::string tga(18, '\0');
    tga[2] = 10;  // run-length true colour
    tga[12] = static_cast<char>(tgaWidth);
    tga[14] = static_cast<char>(side);
    tga[16] = 32;
    tga[17] = 0x28;  // top row first, 8 alpha bits
    for (uint32_t y = 0; y < side; ++y) {
        for (uint32_t x = 0; x < tgaWidth; x += 2) {
            // Runs of 2 pixels: yellow inside the circle, transparent red outside.
            const int dx = int(x + 1) - 32, dy = int(y) - 24;
            const bool inside = dx * dx + dy * dy < 20 * 20;
            tga.push_back(static_cast<char>(0x80 | 1));
            tga += inside ? std::string("\x00\xE0\xFF\xFF", 4) : std::string("\x00\x00\xFF\x00", 4);
        }
    }
    std::ofstream(folder / L"sprite.tga", std::ios::binary) << tga;
}

void writeSourceTree(const fs::path& root) {
    const struct { const wchar_t* name; size_t size; } files[] = {
        {L"empty.txt", 0},           {L"one.txt", 1},
        {L"sub\\chunk.bin", 65536},  {L"sub\\over.bin", 65537},
        {L"sub\\deep\\text.txt", 200000}, {L"sub\\deep\\caf\u00e9.txt", 300},
        {L"Other\\README.md", 4096},
    };
    uint32_t seed = 12345;
    for (const auto& f : files) {
        const fs::path target = root / f.name;
        fs::create_directories(target.parent_path());
        std::string bytes(f.size, '\0');
        for (size_t i = 0; i < f.size; ++i) {
            seed = seed * 1103515245 + 12345;
            // Half text, half noise: both compressible and incompressible stretches.
            bytes[i] = (i / 4096) % 2 == 0 ? static_cast<char>('a' + (i * 7 + i / 13) % 26)
                                           : static_cast<char>(seed >> 16);
        }
        std::ofstream(target, std::ios::binary) << bytes;
    }
    writePictures(root / L"art");
    std::ofstream(root / L"art" / L"notes.txt", std::ios::binary)
        << "Quarnel preview test\r\nline two: plain text\r\n\r\n\tindented after a blank line\r\n";
    for (int i = 0; i < extraFiles; ++i) {
        const fs::path target = root / L"bulk" / std::to_wstring(i % 50) / (std::to_wstring(i) + L".txt");
        fs::create_directories(target.parent_path());
        std::ofstream(target, std::ios::binary) << std::string(static_cast<size_t>(i % 5000), char('a' + i % 26));
    }
}

bool idle(HWND mainWindow) {
    return IsWindowEnabled(GetDlgItem(mainWindow, IDC_CLOSE)) != FALSE;
}

void compareTrees(const fs::path& source, const fs::path& extracted, const char* what) {
    const auto expected = readTree(source);
    const auto actual = readTree(extracted / L"data");
    check(actual.size() == expected.size(),
          std::string(what) + ": " + std::to_string(actual.size()) + " files extracted of " +
              std::to_string(expected.size()));
    for (const auto& [name, bytes] : expected) {
        const auto found = actual.find(name);
        check(found != actual.end() && found->second == bytes, std::string(what) + ": " + narrow(name) + " identical");
    }
}

// Started with the archive as its argument, as a double-click in Explorer does; pictures and a
// text previewed from the list.
void previewFromArgument(const wchar_t* programPath, const fs::path& work, const fs::path& archive, int fileCount) {
    std::wstring commandLine = L"\"" + std::wstring(programPath) + L"\" \"" + archive.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(programPath, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, work.c_str(), &startup,
                        &started)) {
        check(false, "program started again with the archive");
        return;
    }
    program = started.hProcess;
    const HWND mainWindow = waitForDialog(L"Quarnel v2 - " + archive.wstring());
    check(mainWindow != nullptr, "the argument opened the archive");
    if (mainWindow == nullptr) {
        TerminateProcess(program, 1);
        return;
    }
    const HWND list = GetDlgItem(mainWindow, IDC_ENTRY_LIST);
    check(itemCount(list) == fileCount, "every row listed: " + std::to_string(itemCount(list)));
    step("opened-by-argument");

    const struct { const wchar_t* name; const wchar_t* shot; bool doubleClick; } previews[] = {
        {L"data\\art\\gradient.bmp", L"preview-bmp.bmp", false},
        {L"data\\art\\sprite.tga", L"preview-tga.bmp", false},
        {L"data\\art\\notes.txt", L"preview-text.bmp", true},
    };
    bool first = true;
    for (const auto& p : previews) {
        const int row = rowNamed(list, p.name);
        check(row >= 0, "row " + narrow(p.name) + " listed");
        if (row < 0) {
            continue;
        }
        clickRow(list, row, p.doubleClick);
        if (first) {
            // Enter on the focused row opens the preview; later ones follow the focus.
            settle(mainWindow);
            PostMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
            first = false;
        }
        check(previewShows(p.name), "preview shows " + narrow(p.name));
        if (const HWND preview = findPreview()) {
            // Clicking the list raised the main window; the picture is of the preview on top.
            // Wine hands the stacking to X a little later: raise until the main window stays below.
            for (int i = 0; i < 3; ++i) {
                SetWindowPos(preview, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                Sleep(300);
            }
            saveScreenshot(preview, p.shot);
        }
        step("previewed");
    }

    PostMessageW(GetDlgItem(mainWindow, IDC_EXIT), BM_CLICK, 0, 0);
    const bool ended = WaitForSingleObject(program, STEP_TIMEOUT_MS) == WAIT_OBJECT_0;
    check(ended, "Exit with the preview open ends the program");
    if (!ended) {
        TerminateProcess(program, 1);
    }
    CloseHandle(started.hThread);
    CloseHandle(program);
}

// The list's pixel sizes follow the window's DPI: the row pictures are the small icon size there
// (24 pixels at 144 DPI), and each column is wide enough for its header text.
void checkListFollowsDpi(HWND mainWindow, HWND list) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    const auto dpiOf = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const int dpi = dpiOf != nullptr ? static_cast<int>(dpiOf(mainWindow)) : 96;
    RemoteBuffer rectangle(sizeof(RECT));
    RECT icon{LVIR_ICON, 0, 0, 0};
    rectangle.write(&icon, sizeof(icon));
    SendMessageTimeoutW(list, LVM_GETITEMRECT, 0, rectangle.at(), SMTO_ABORTIFHUNG, 5000, nullptr);
    rectangle.read(&icon, sizeof(icon));
    check(icon.right - icon.left == MulDiv(16, dpi, 96),
          "row pictures " + std::to_string(icon.right - icon.left) + " pixels wide at " + std::to_string(dpi) + " DPI");

    DWORD_PTR header = 0;
    SendMessageTimeoutW(list, LVM_GETHEADER, 0, 0, SMTO_ABORTIFHUNG, 5000, &header);
    DWORD_PTR columns = 0;
    SendMessageTimeoutW(reinterpret_cast<HWND>(header), HDM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &columns);
    constexpr size_t CHARS = 64;
    RemoteBuffer item(sizeof(HDITEMW) + CHARS * sizeof(wchar_t));
    for (int column = 0; column < static_cast<int>(columns); ++column) {
        HDITEMW request{};
        request.mask = HDI_TEXT | HDI_WIDTH;
        request.pszText = reinterpret_cast<wchar_t*>(item.at(sizeof(HDITEMW)));
        request.cchTextMax = CHARS;
        item.write(&request, sizeof(request));
        SendMessageTimeoutW(reinterpret_cast<HWND>(header), HDM_GETITEMW, column, item.at(), SMTO_ABORTIFHUNG, 5000,
                            nullptr);
        item.read(&request, sizeof(request));
        std::wstring text(CHARS, L'\0');
        item.read(text.data(), CHARS * sizeof(wchar_t), sizeof(HDITEMW));
        text.resize(wcslen(text.c_str()));
        // The string's width in the list's font, measured inside the program.
        DWORD_PTR textWidth = 0;
        SendMessageTimeoutW(list, LVM_GETSTRINGWIDTHW, 0, item.at(sizeof(HDITEMW)), SMTO_ABORTIFHUNG, 5000, &textWidth);
        // The header keeps a margin of about 6 pixels (at 96 DPI) on each side of its text.
        check(request.cxy >= static_cast<int>(textWidth) + MulDiv(12, dpi, 96),
              "column \"" + narrow(text) + "\" " + std::to_string(request.cxy) + " pixels for a text of " +
                  std::to_string(textWidth));
    }
}

// A main window that someone else started (the shell, through the file type): it shows with
// `title` and `rows` rows, sized for its DPI, then closes when asked.
int checkOpenedWindow(const std::wstring& title, int rows) {
    HWND mainWindow = nullptr;
    waitFor([&] { return (mainWindow = FindWindowW(L"#32770", title.c_str())) != nullptr && IsWindowVisible(mainWindow); });
    check(mainWindow != nullptr, "window titled " + narrow(title));
    if (mainWindow == nullptr) {
        EnumWindows(
            [](HWND window, LPARAM) -> BOOL {
                const std::wstring text = textOf(window);
                if (text.rfind(L"Quarnel", 0) == 0) {
                    std::printf("there is a window titled %s\n", narrow(text).c_str());
                }
                return TRUE;
            },
            0);
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(mainWindow, &processId);
    // Its memory too: the list is read through buffers inside it.
    program = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_READ |
                              PROCESS_VM_WRITE,
                          FALSE, processId);
    const HWND list = GetDlgItem(mainWindow, IDC_ENTRY_LIST);
    check(waitFor([&] { return itemCount(list) == rows; }, 5000),
          "rows listed: " + std::to_string(itemCount(list)) + " of " + std::to_string(rows));
    checkListFollowsDpi(mainWindow, list);
    PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    check(program != nullptr && WaitForSingleObject(program, STEP_TIMEOUT_MS) == WAIT_OBJECT_0, "closed");
    if (program != nullptr) {
        CloseHandle(program);
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"--opened") {
        return checkOpenedWindow(argv[2], _wtoi(argv[3]));
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_drive PROGRAM.EXE [--pause-ms N]\n       ui_drive --opened TITLE ROWS\n");
        return 2;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"--pause-ms") {
            pauseMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
        } else if (option == L"--extra-files") {
            extraFiles = _wtoi(argv[i + 1]);
        } else if (option == L"--shots") {
            shotDir = argv[i + 1];
        }
    }
    wchar_t tempPath[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tempPath);
    // On the prefix's own drive: the folder picker loses its way in folders others touch.
    const fs::path work = fs::path(tempPath) / (L"quarnel-e2e-" + std::to_wstring(GetCurrentProcessId()));
    const fs::path source = work / L"source";
    const fs::path archive = work / L"made.grf";
    const fs::path out = work / L"out";
    const fs::path outAgain = work / L"out2";
    fs::remove_all(work);
    writeSourceTree(source);
    fs::create_directories(out);
    fs::create_directories(outAgain);

    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, work.c_str(), &startup,
                        &started)) {
        std::fprintf(stderr, "cannot start the program (%lu)\n", GetLastError());
        return 2;
    }
    program = started.hProcess;
    HWND mainWindow = waitForDialog(L"Quarnel v2");
    check(mainWindow != nullptr, "main window shown");
    if (mainWindow == nullptr) {
        TerminateProcess(program, 1);
        return 1;
    }
    const HWND list = GetDlgItem(mainWindow, IDC_ENTRY_LIST);
    const auto button = [mainWindow](int id) { return GetDlgItem(mainWindow, id); };
    check(textOf(button(IDC_STATUS)) == L"就绪", "status reads 就绪");
    check(!IsWindowEnabled(button(IDC_CLOSE)) && IsWindowEnabled(button(IDC_NEW)), "only New/Open enabled");
    step("started");

    press(button(IDC_NEW));
    check(answerFileDialog(L"请选择要新建的GRF文件", archive.wstring()), "New: file picked");
    settle(mainWindow);
    check(textOf(mainWindow) == L"Quarnel v2 - " + archive.wstring(), "title names the new archive");
    step("created");

    press(button(IDC_ADD_DIRECTORY));
    check(answerFolderPicker(L"请选择要添加目录", source.wstring()), "Add directory: folder picked");
    settle(mainWindow);
    check(waitFor([&] { return idle(mainWindow); }), "adding finished");
    const int fileCount = static_cast<int>(readTree(source).size());
    check(itemCount(list) == fileCount, "one row per added file: " + std::to_string(itemCount(list)));
    check(textOf(mainWindow).back() == L'*', "title marks the archive modified");
    step("added");

    press(button(IDC_CLOSE));
    const std::wstring question = answerMessageBox(L"关闭文件", IDYES);
    check(question == L"文件已修改，是否需要保存修改？", "save question: " + narrow(question));
    check(waitFor([&] { return IsWindowEnabled(button(IDC_NEW)) != FALSE; }), "saved and closed");
    check(itemCount(list) == 0 && textOf(mainWindow) == L"Quarnel v2", "window back to no archive");
    step("saved");

    press(button(IDC_OPEN));
    check(answerFileDialog(L"请选择要打开的GRF文件", archive.wstring()), "Open: file picked");
    settle(mainWindow);
    check(itemCount(list) == fileCount, "reopened archive lists every file");
    check(textOf(button(IDC_STATUS)) == L"显示 " + std::to_wstring(fileCount) + L" 个文件 / 添加 0 个文件 / 总共 " +
                                            std::to_wstring(fileCount) + L" 个文件",
          "counts line");
    step("opened");

    const HWND filter = button(IDC_FILTER);
    SendMessageTimeoutW(filter, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"\\sub\\"), SMTO_ABORTIFHUNG, 5000, nullptr);
    PostMessageW(filter, WM_KEYDOWN, VK_RETURN, 0);
    // Posted, so it comes after any sent message: wait for its effect instead.
    waitFor([&] { return itemCount(list) != fileCount; }, 5000);
    check(itemCount(list) == 4, "filter \\sub\\ shows 4 rows: " + std::to_string(itemCount(list)));
    step("filtered");
    SendMessageTimeoutW(filter, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""), SMTO_ABORTIFHUNG, 5000, nullptr);
    PostMessageW(filter, WM_KEYDOWN, VK_RETURN, 0);
    check(waitFor([&] { return itemCount(list) == fileCount; }, 5000), "empty filter shows every row");

    const std::wstring firstBefore = cellText(list, 0, 0);
    clickHeader(list, 0);
    waitFor([&] { return cellText(list, 0, 0) != firstBefore; }, 5000);
    std::vector<std::wstring> shown;
    for (int row = 0; row < itemCount(list); ++row) {
        shown.push_back(cellText(list, row, 0));
    }
    bool descending = !shown.empty();
    for (size_t i = 1; i < shown.size(); ++i) {
        descending = descending && _wcsicmp(shown[i - 1].c_str(), shown[i].c_str()) >= 0;
    }
    check(descending, "first click on the name header sorts descending, first row " +
                          (shown.empty() ? std::string("(none)") : narrow(shown.front())));
    step("sorted");

    press(button(IDC_EXTRACT_ALL));
    check(answerFolderPicker(L"请选择要提取到的目录", out.wstring()), "Extract all: folder picked");
    settle(mainWindow);
    check(waitFor([&] { return idle(mainWindow); }), "extraction finished");
    check(findDialog(L"错误", false) == nullptr, "no error box");
    compareTrees(source, out, "extracted");
    step("extracted");

    SendMessageTimeoutW(button(IDC_LEVEL), CB_SETCURSEL, 9, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    press(button(IDC_RECOMPRESS));
    const std::wstring warning = answerMessageBox(L"重新压缩", IDYES);
    check(warning == L"重新压缩Grf文件会丢弃当前所有的更改，是否继续？", "recompress question");
    settle(mainWindow);
    check(waitFor([&] { return idle(mainWindow); }), "recompress finished");
    // Any box of the task's end comes before the buttons are enabled again.
    check(findDialog(L"错误", false) == nullptr, "no error box after recompress");
    check(itemCount(list) == fileCount, "rows rebuilt from the recompressed archive");
    step("recompressed");

    press(button(IDC_EXTRACT_ALL));
    check(answerFolderPicker(L"请选择要提取到的目录", outAgain.wstring()), "Extract all again: folder picked");
    settle(mainWindow);
    check(waitFor([&] { return idle(mainWindow); }), "second extraction finished");
    compareTrees(source, outAgain, "extracted after recompress");

    const DWORD exitPressed = GetTickCount();
    press(button(IDC_EXIT));
    const bool ended = WaitForSingleObject(program, STEP_TIMEOUT_MS) == WAIT_OBJECT_0;
    const DWORD shutdownMs = GetTickCount() - exitPressed;
    DWORD exitCode = 1;
    GetExitCodeProcess(program, &exitCode);
    check(ended && exitCode == 0, "Exit ends the program with code 0");
    // The idle worker notices the stop within one 100 ms wait; the rest is process teardown.
    check(shutdownMs < 2000, "shutdown took " + std::to_string(shutdownMs) + " ms");
    if (!ended) {
        TerminateProcess(program, 1);
    }
    CloseHandle(started.hThread);
    CloseHandle(program);
    previewFromArgument(argv[1], work, archive, fileCount);
    if (failures == 0) {
        fs::remove_all(work);
    } else {
        std::printf("kept for a look: %s\n", narrow(work.wstring()).c_str());
    }
    std::printf("%d check(s) failed\n", failures);
    return failures == 0 ? 0 : 1;
}
