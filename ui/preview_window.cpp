// The preview: one modeless window beside the list that shows the focused entry as a picture,
// as text or as hex, read into memory through the core's entry-data path.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "archive/model/archive.h"
#include "archive/preview/entry_preview.h"
#include "archive/base/result_codes.h"
#include "archive/preview/tga_decode.h"
#include "platform/code_page.h"
#include "ui/app.h"
#include "ui/controls.h"
#include "ui/dpi.h"
#include "ui/main_dialog.h"
#include "ui/wide.h"

namespace {

constexpr wchar_t PREVIEW_CLASS[] = L"QuarnelPreview";
constexpr int HEADER_ID = 10;
constexpr int BODY_ID = 11;
// Pixel sizes at 96 DPI; the window scales them to its own.
constexpr int MARGIN = 6;
constexpr int HEADER_HEIGHT = 52;   // three lines of the dialog's font
constexpr int FIXED_FONT_HEIGHT = 12;
constexpr int PREVIEW_WIDTH = 560;
constexpr int PREVIEW_HEIGHT = 480;
constexpr int OFFSET_FROM_OWNER = 40;
// Small pictures are enlarged by whole steps up to this, so a 16-pixel icon is visible.
constexpr int MAX_ENLARGEMENT = 8;

struct PreviewContent {
    HBITMAP picture = nullptr;   // owned
    int width = 0;
    int height = 0;
    UINT dpi = BASE_DPI;         // the window's
    HFONT textFont = nullptr;    // owned; the dialog's face at the window's DPI
    HFONT fixedFont = nullptr;   // owned
    bool bodyFixed = false;      // the body shows hex in the fixed font
    std::wstring header;
    std::wstring reason;
};
PreviewContent content;
ULONG_PTR gdiplusToken = 0;

int scaled(int pixels) {
    return scaleToDpi(pixels, content.dpi);
}

// The fonts at `dpi`, put on the header and body, the earlier ones deleted after. The text font
// is the dialog's face and size scaled from the main window's DPI to this window's: the preview
// may stand on another monitor than the main window.
void setFonts(HWND window, UINT dpi) {
    const HFONT oldText = content.textFont;
    const HFONT oldFixed = content.fixedFont;
    content.textFont = nullptr;
    LOGFONTW face{};
    const auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(app.mainWindow, WM_GETFONT, 0, 0));
    if (dialogFont != nullptr && GetObjectW(dialogFont, sizeof(face), &face) != 0) {
        face.lfHeight = MulDiv(face.lfHeight, static_cast<int>(dpi), static_cast<int>(windowDpi(app.mainWindow)));
        content.textFont = CreateFontIndirectW(&face);
    }
    content.fixedFont = CreateFontW(-scaleToDpi(FIXED_FONT_HEIGHT, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    FIXED_PITCH | FF_MODERN, L"Courier New");
    const HFONT text = content.textFont != nullptr ? content.textFont : dialogFont;
    const HFONT fixed = content.fixedFont != nullptr ? content.fixedFont : text;
    SendMessageW(GetDlgItem(window, HEADER_ID), WM_SETFONT, reinterpret_cast<WPARAM>(text), TRUE);
    SendMessageW(GetDlgItem(window, BODY_ID), WM_SETFONT, reinterpret_cast<WPARAM>(content.bodyFixed ? fixed : text),
                 TRUE);
    for (const HFONT font : {oldText, oldFixed}) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
}

void dropPicture() {
    if (content.picture != nullptr) {
        DeleteObject(content.picture);
        content.picture = nullptr;
    }
    content.width = 0;
    content.height = 0;
}

bool startGdiplus() {
    if (gdiplusToken != 0) {
        return true;
    }
    Gdiplus::GdiplusStartupInput input;
    return Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) == Gdiplus::Ok;
}

// BMP, JPEG, PNG or GIF bytes through GDI+, from a stream over a copy of them in global memory.
HBITMAP decodePicture(const std::vector<uint8_t>& bytes, int& width, int& height) {
    if (!startGdiplus() || bytes.empty()) {
        return nullptr;
    }
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (memory == nullptr) {
        return nullptr;
    }
    void* const target = GlobalLock(memory);
    if (target == nullptr) {
        GlobalFree(memory);
        return nullptr;
    }
    std::memcpy(target, bytes.data(), bytes.size());
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    // The stream frees the memory when it is released.
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return nullptr;
    }
    HBITMAP result = nullptr;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, &bitmap) == Gdiplus::Ok && bitmap != nullptr) {
        UINT w = 0;
        UINT h = 0;
        Gdiplus::DllExports::GdipGetImageWidth(bitmap, &w);
        Gdiplus::DllExports::GdipGetImageHeight(bitmap, &h);
        // Transparent parts over white, as the picture would stand on a page.
        if (w > 0 && h > 0 &&
            Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(bitmap, &result, 0xFFFFFFFF) == Gdiplus::Ok) {
            width = static_cast<int>(w);
            height = static_cast<int>(h);
        } else {
            result = nullptr;
        }
        Gdiplus::DllExports::GdipDisposeImage(bitmap);
    }
    stream->Release();
    return result;
}

// Our TGA pixels as a top-down 32-bit bitmap, alpha laid over white.
HBITMAP bitmapFromImage(const DecodedImage& image) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = static_cast<LONG>(image.width);
    info.bmiHeader.biHeight = -static_cast<LONG>(image.height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        return nullptr;
    }
    auto* out = static_cast<uint8_t*>(bits);
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        const unsigned alpha = image.bgra[i + 3];
        for (int k = 0; k < 3; ++k) {
            out[i + k] = static_cast<uint8_t>((image.bgra[i + k] * alpha + 255 * (255 - alpha)) / 255);
        }
        out[i + 3] = 0;
    }
    return bitmap;
}

const wchar_t* tgaReason(TgaResult result) {
    switch (result) {
    case TgaResult::TRUNCATED: return L"TGA文件不完整，以十六进制显示";
    case TgaResult::TOO_LARGE: return L"TGA图像过大，以十六进制显示";
    default: return L"不支持的TGA格式，以十六进制显示";
    }
}

void addReason(std::wstring& reason, const std::wstring& more) {
    if (!reason.empty()) {
        reason += L"；";
    }
    reason += more;
}

// A multi-line edit box breaks lines only at CR LF.
std::wstring withWindowsLineEnds(const std::u16string& text) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = static_cast<wchar_t>(text[i]);
        if (c == L'\n' && (i == 0 || text[i - 1] != u'\r')) {
            out += L"\r\n";
        } else if (c == L'\r' && (i + 1 == text.size() || text[i + 1] != u'\n')) {
            out += L"\r\n";
        } else if (c == L'\0') {
            out += L' ';
        } else {
            out += c;
        }
    }
    return out;
}

void layOut(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    const int margin = scaled(MARGIN);
    const int headerHeight = scaled(HEADER_HEIGHT);
    MoveWindow(GetDlgItem(window, HEADER_ID), margin, margin, client.right - 2 * margin, headerHeight, TRUE);
    MoveWindow(GetDlgItem(window, BODY_ID), margin, headerHeight + 2 * margin, client.right - 2 * margin,
               std::max<LONG>(client.bottom - headerHeight - 3 * margin, 0), TRUE);
    InvalidateRect(window, nullptr, TRUE);
}

void paintPicture(HWND window, HDC target) {
    if (content.picture == nullptr) {
        return;
    }
    RECT client;
    GetClientRect(window, &client);
    const int margin = scaled(MARGIN);
    const int headerHeight = scaled(HEADER_HEIGHT);
    const int areaWidth = client.right - 2 * margin;
    const int areaHeight = client.bottom - headerHeight - 3 * margin;
    if (areaWidth <= 0 || areaHeight <= 0) {
        return;
    }
    int shownWidth = content.width;
    int shownHeight = content.height;
    if (content.width > areaWidth || content.height > areaHeight) {
        // Shrunk to fit, keeping its proportions.
        const double scale = std::min(double(areaWidth) / content.width, double(areaHeight) / content.height);
        shownWidth = std::max(1, int(content.width * scale));
        shownHeight = std::max(1, int(content.height * scale));
    } else {
        const int factor = std::clamp(std::min(areaWidth / content.width, areaHeight / content.height), 1,
                                      MAX_ENLARGEMENT);
        shownWidth = content.width * factor;
        shownHeight = content.height * factor;
    }
    HDC source = CreateCompatibleDC(target);
    const HGDIOBJ previous = SelectObject(source, content.picture);
    SetStretchBltMode(target, shownWidth < content.width ? HALFTONE : COLORONCOLOR);
    SetBrushOrgEx(target, 0, 0, nullptr);
    StretchBlt(target, margin, headerHeight + 2 * margin, shownWidth, shownHeight, source, 0, 0, content.width,
               content.height, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
}

LRESULT CALLBACK previewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        layOut(window);
        return 0;
    case WM_DPICHANGED: {
        // Moved to a monitor of another scaling: the system suggests where and how large.
        content.dpi = LOWORD(wParam);
        setFonts(window, content.dpi);
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                     suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
        layOut(window);
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        paintPicture(window, dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
        // The read-only body stays white like a page, not grey like a disabled box.
        if (reinterpret_cast<HWND>(lParam) == GetDlgItem(window, BODY_ID)) {
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        break;
    case WM_DESTROY:
        dropPicture();
        for (HFONT* font : {&content.textFont, &content.fixedFont}) {
            if (*font != nullptr) {
                DeleteObject(*font);
                *font = nullptr;
            }
        }
        app.previewWindow = nullptr;
        return 0;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createPreviewWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = previewProc;
        windowClass.hInstance = app.instance;
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = PREVIEW_CLASS;
        registered = RegisterClassExW(&windowClass) != 0;
    }
    // Beside the main window's right edge, moved back inside the screen where that edge is near it.
    RECT owner;
    GetWindowRect(app.mainWindow, &owner);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(app.mainWindow, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& screen = monitor.rcWork;
    // It opens on the main window's monitor, at that DPI.
    content.dpi = windowDpi(app.mainWindow);
    const int width = scaled(PREVIEW_WIDTH);
    const int height = scaled(PREVIEW_HEIGHT);
    const int offset = scaled(OFFSET_FROM_OWNER);
    const int left = std::max<int>(screen.left, std::min<int>(owner.right - offset, screen.right - width));
    const int top = std::max<int>(screen.top, std::min<int>(owner.top + offset, screen.bottom - height));
    // Owned by the main window: it stays above it, and goes when it goes.
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, PREVIEW_CLASS, L"预览", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  left, top, width, height, app.mainWindow, nullptr, app.instance, nullptr);
    if (window == nullptr) {
        return nullptr;
    }
    CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, window,
                    reinterpret_cast<HMENU>(HEADER_ID), app.instance, nullptr);
    HWND body = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                WS_CHILD | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
                                    ES_AUTOHSCROLL | ES_NOHIDESEL,
                                0, 0, 0, 0, window, reinterpret_cast<HMENU>(BODY_ID), app.instance, nullptr);
    SendMessageW(body, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    // The window may have come up on a monitor of another DPI than asked for.
    content.dpi = windowDpi(window);
    content.bodyFixed = false;
    setFonts(window, content.dpi);
    layOut(window);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
}

void showBody(const std::wstring& text, bool fixedPitch) {
    const HWND body = GetDlgItem(app.previewWindow, BODY_ID);
    content.bodyFixed = fixedPitch;
    const HFONT textFont = content.textFont != nullptr
                               ? content.textFont
                               : reinterpret_cast<HFONT>(SendMessageW(app.mainWindow, WM_GETFONT, 0, 0));
    const HFONT font = fixedPitch && content.fixedFont != nullptr ? content.fixedFont : textFont;
    SendMessageW(body, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowTextW(body, text.c_str());
    ShowWindow(body, SW_SHOW);
}

void showHex(const std::vector<uint8_t>& bytes) {
    if (bytes.size() > PREVIEW_HEX_BYTES) {
        addReason(content.reason, L"只显示前 64 KB");
    }
    showBody(asWide(hexDump(bytes)), true);
}

// The entry's name and sizes; its data unless a task may be using the archive's file.
void showEntryOfRow(int row) {
    const GrfArchive* const archive = listArchive();
    if (app.previewWindow == nullptr || archive == nullptr || row < 0 ||
        static_cast<size_t>(row) >= app.visibleEntries.size()) {
        return;
    }
    dropPicture();
    content.reason.clear();
    const HWND body = GetDlgItem(app.previewWindow, BODY_ID);
    ShowWindow(body, SW_HIDE);
    SetWindowTextW(body, L"");

    const bool korean = useKoreanNames();
    const GrfEntry* entry = nullptr;
    std::wstring name;
    {
        const std::shared_lock lock(archive->listLock);
        entry = entryForIndex(app.visibleEntries[row]);
        if (entry == nullptr) {
            return;
        }
        name = asWide(entry->displayName(korean));
        const bool stored = entry->source() == SOURCE_ARCHIVE;
        content.header = name + L"\r\n原始长度：" + std::to_wstring(entry->originalSize()) + L" 字节    压缩长度：" +
                         (stored ? std::to_wstring(entry->compressedSize()) + L" 字节" : std::wstring(L"N/A"));
    }
    SetWindowTextW(app.previewWindow, (L"预览 - " + name).c_str());

    if (app.uiState == UI_BUSY) {
        content.reason = L"任务进行中，暂时无法预览";
    } else {
        const PreviewData data = readPreviewData(*entry);
        if (data.error != 0) {
            content.reason = L"无法预览：" + std::wstring(asWide(resultText(data.error)));
        } else {
            if (data.truncated) {
                addReason(content.reason, L"文件超过 64 MB，只显示开头部分");
            }
            switch (previewKindOf(entry->name(), data.bytes)) {
            case PreviewKind::PICTURE:
                content.picture = decodePicture(data.bytes, content.width, content.height);
                if (content.picture == nullptr) {
                    addReason(content.reason, L"图像无法解码，以十六进制显示");
                    showHex(data.bytes);
                }
                break;
            case PreviewKind::TGA: {
                DecodedImage image;
                const TgaResult result = decodeTga(data.bytes, image);
                if (result == TgaResult::OK) {
                    content.picture = bitmapFromImage(image);
                    content.width = static_cast<int>(image.width);
                    content.height = static_cast<int>(image.height);
                }
                if (content.picture == nullptr) {
                    dropPicture();
                    addReason(content.reason, tgaReason(result));
                    showHex(data.bytes);
                }
                break;
            }
            case PreviewKind::TEXT: {
                const uint32_t codePage = korean ? platform::CODE_PAGE_KOREAN : platform::ansiCodePage();
                const std::string_view text(reinterpret_cast<const char*>(data.bytes.data()), data.bytes.size());
                showBody(withWindowsLineEnds(platform::decodeDocument(text, codePage)), false);
                break;
            }
            case PreviewKind::HEX: showHex(data.bytes); break;
            }
        }
    }
    std::wstring headerText = content.header;
    if (!content.reason.empty()) {
        headerText += L"\r\n" + content.reason;
    }
    SetDlgItemTextW(app.previewWindow, HEADER_ID, headerText.c_str());
    InvalidateRect(app.previewWindow, nullptr, TRUE);
}

}  // namespace

void openPreview() {
    const int row = currentRow();
    if (row < 0 || listArchive() == nullptr) {
        return;
    }
    if (app.previewWindow == nullptr) {
        app.previewWindow = createPreviewWindow();
        if (app.previewWindow == nullptr) {
            MessageBeep(MB_ICONWARNING);
            return;
        }
    }
    showEntryOfRow(row);
}

void onFocusedRowChanged() {
    if (app.previewWindow != nullptr) {
        showEntryOfRow(currentRow());
    }
}

void closePreview() {
    if (app.previewWindow != nullptr) {
        DestroyWindow(app.previewWindow);
    }
}

void shutDownPreview() {
    closePreview();
    if (gdiplusToken != 0) {
        Gdiplus::GdiplusShutdown(gdiplusToken);
        gdiplusToken = 0;
    }
}

PreviewState previewState() {
    PreviewState state;
    if (app.previewWindow == nullptr) {
        return state;
    }
    state.open = true;
    const auto textOf = [](HWND window) {
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
        return text;
    };
    state.title = textOf(app.previewWindow);
    state.header = content.header;
    state.reason = content.reason;
    const HWND body = GetDlgItem(app.previewWindow, BODY_ID);
    if (IsWindowVisible(body)) {
        state.body = textOf(body);
    }
    if (content.picture != nullptr) {
        state.imageWidth = content.width;
        state.imageHeight = content.height;
        HDC dc = CreateCompatibleDC(nullptr);
        const HGDIOBJ previous = SelectObject(dc, content.picture);
        state.topLeft = GetPixel(dc, 0, 0);
        SelectObject(dc, previous);
        DeleteDC(dc);
    }
    return state;
}
