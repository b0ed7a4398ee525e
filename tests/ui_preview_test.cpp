// The preview window: each kind of entry, damaged and hostile ones, and following the focused row.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>

#include "archive/model/archive.h"
#include "platform/code_page.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tga_writer.h"
#include "tests/support/ui_harness.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/wide.h"

namespace {

// An 8 × 8 red JPEG (made once with an image tool; JPEG is too long to write by hand).
const uint8_t RED_JPEG[] = {
  0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0x4a, 0x46, 0x49, 0x46, 0x00, 0x01,
  0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xff, 0xdb, 0x00, 0x43,
  0x00, 0x03, 0x02, 0x02, 0x03, 0x02, 0x02, 0x03, 0x03, 0x03, 0x03, 0x04,
  0x03, 0x03, 0x04, 0x05, 0x08, 0x05, 0x05, 0x04, 0x04, 0x05, 0x0a, 0x07,
  0x07, 0x06, 0x08, 0x0c, 0x0a, 0x0c, 0x0c, 0x0b, 0x0a, 0x0b, 0x0b, 0x0d,
  0x0e, 0x12, 0x10, 0x0d, 0x0e, 0x11, 0x0e, 0x0b, 0x0b, 0x10, 0x16, 0x10,
  0x11, 0x13, 0x14, 0x15, 0x15, 0x15, 0x0c, 0x0f, 0x17, 0x18, 0x16, 0x14,
  0x18, 0x12, 0x14, 0x15, 0x14, 0xff, 0xdb, 0x00, 0x43, 0x01, 0x03, 0x04,
  0x04, 0x05, 0x04, 0x05, 0x09, 0x05, 0x05, 0x09, 0x14, 0x0d, 0x0b, 0x0d,
  0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14,
  0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14,
  0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14,
  0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14,
  0x14, 0x14, 0xff, 0xc0, 0x00, 0x11, 0x08, 0x00, 0x08, 0x00, 0x08, 0x03,
  0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xff, 0xc4, 0x00,
  0x14, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0xff, 0xc4, 0x00, 0x14, 0x10,
  0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
  0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xc4, 0x00, 0x15, 0x01, 0x01, 0x01,
  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
  0x00, 0x00, 0x07, 0x09, 0xff, 0xc4, 0x00, 0x14, 0x11, 0x01, 0x00, 0x00,
  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
  0x00, 0x00, 0xff, 0xda, 0x00, 0x0c, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03,
  0x11, 0x00, 0x3f, 0x00, 0x3a, 0x03, 0x15, 0x4d, 0xff, 0xd9
};

// A 1 × 1 GIF whose one pixel is colour 0 of its table: white.
const uint8_t WHITE_GIF[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0,
                             ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'};

void appendU32(std::vector<uint8_t>& out, uint32_t value, bool bigEndian) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (bigEndian ? 24 - 8 * i : 8 * i)));
}

// A 24-bit bottom-up BMP whose top-left pixel is `topLeft` (BGR), the rest grey.
std::vector<uint8_t> makeBmp(uint32_t width, uint32_t height, const uint8_t topLeft[3]) {
    const uint32_t rowBytes = (width * 3 + 3) / 4 * 4;
    std::vector<uint8_t> out{'B', 'M'};
    appendU32(out, 54 + rowBytes * height, false);
    appendU32(out, 0, false);
    appendU32(out, 54, false);
    appendU32(out, 40, false);
    appendU32(out, width, false);
    appendU32(out, height, false);
    out.insert(out.end(), {1, 0, 24, 0});
    for (int i = 0; i < 6; ++i) appendU32(out, 0, false);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < rowBytes; ++x) {
            const bool corner = y == height - 1 && x < 3;
            out.push_back(corner ? topLeft[x] : 0x80);
        }
    }
    return out;
}

void pngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    appendU32(out, uint32_t(data.size()), true);
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    appendU32(out, uint32_t(crc32(0, body.data(), uInt(body.size()))), true);
}

// A width × 1 RGB PNG, every pixel blue.
std::vector<uint8_t> makePng(uint32_t width) {
    std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    appendU32(header, width, true);
    appendU32(header, 1, true);
    header.insert(header.end(), {8, 2, 0, 0, 0});
    pngChunk(out, "IHDR", header);
    std::vector<uint8_t> row{0};
    for (uint32_t x = 0; x < width; ++x) row.insert(row.end(), {0, 0, 0xFF});
    std::vector<uint8_t> packed(compressBound(uLong(row.size())));
    uLongf packedSize = uLongf(packed.size());
    compress(packed.data(), &packedSize, row.data(), uLong(row.size()));
    packed.resize(packedSize);
    pngChunk(out, "IDAT", packed);
    pngChunk(out, "IEND", {});
    return out;
}

class PreviewTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        platform::setAnsiCodePage(platform::CODE_PAGE_WESTERN);
    }

    // Opens the preview on the row named `name`.
    PreviewState preview(const std::wstring& name) {
        const std::vector<std::wstring> shown = names();
        const auto at = std::find(shown.begin(), shown.end(), name);
        EXPECT_NE(at, shown.end()) << "no row " << std::string(name.begin(), name.end());
        const int row = int(at - shown.begin());
        selectRows({row});
        focusRow(row);
        openPreview();
        return previewState();
    }

    void focusRow(int row) {
        LVITEMW focus{};
        focus.stateMask = LVIS_FOCUSED;
        focus.state = LVIS_FOCUSED;
        SendMessageW(item(IDC_ENTRY_LIST), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&focus));
    }

    TempDir dir;
};

TEST_F(PreviewTest, PicturesDecodeInMemoryEachKindWithItsFirstPixel) {
    const uint8_t greenBgr[3] = {0x00, 0xFF, 0x00};
    TgaPicture sprite = samplePicture(9, 5);
    TgaLayout rle{TgaLayout::TRUE_COLOUR, 32, true};
    openArchive(TestArchive()
                    .add("data\\pic.bmp", makeBmp(3, 2, greenBgr))
                    .add("data\\pic.png", makePng(4))
                    .add("data\\pic.gif", std::vector<uint8_t>(std::begin(WHITE_GIF), std::end(WHITE_GIF)))
                    .add("data\\pic.jpg", std::vector<uint8_t>(std::begin(RED_JPEG), std::end(RED_JPEG)))
                    .add("data\\sprite.tga", writeTga(sprite, rle))
                    .add("data\\grey.TGA", writeTga(sprite, {TgaLayout::GREY, 8}))
                    .writeTo(dir));
    // The TGA's first pixel: 0x40 0x80 0xC0 opaque, as BGR.
    const struct { const wchar_t* name; int width, height; COLORREF topLeft; } cases[] = {
        {L"data\\pic.bmp", 3, 2, RGB(0, 0xFF, 0)},
        {L"data\\pic.png", 4, 1, RGB(0, 0, 0xFF)},
        {L"data\\pic.gif", 1, 1, RGB(0xFF, 0xFF, 0xFF)},
        {L"data\\pic.jpg", 8, 8, 0},
        {L"data\\sprite.tga", 9, 5, RGB(0xC0, 0x80, 0x40)},
        {L"data\\grey.TGA", 9, 5, RGB(0x80, 0x80, 0x80)},
    };
    HWND firstWindow = nullptr;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
        const PreviewState state = preview(c.name);
        ASSERT_TRUE(state.open);
        firstWindow = firstWindow ? firstWindow : app.previewWindow;
        EXPECT_EQ(app.previewWindow, firstWindow) << "one preview at a time";
        EXPECT_EQ(state.title, std::wstring(L"预览 - ") + c.name);
        EXPECT_EQ(state.reason, L"");
        EXPECT_EQ(state.body, L"");
        EXPECT_EQ(state.imageWidth, c.width);
        EXPECT_EQ(state.imageHeight, c.height);
        if (c.topLeft != 0) {
            EXPECT_EQ(state.topLeft, c.topLeft);
        } else {
            // JPEG is lossy: red stays clearly red.
            EXPECT_GT(GetRValue(state.topLeft), 0xE0);
            EXPECT_LT(GetGValue(state.topLeft), 0x30);
        }
    }
}

TEST_F(PreviewTest, TextInTheNameFormsCodePageHexForTheRestAndReasonsWhenItCannotShow) {
    std::vector<uint8_t> big(70000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
    TgaPicture huge = samplePicture(4, 4);
    std::vector<uint8_t> hostile = writeTga(huge, {TgaLayout::TRUE_COLOUR, 24});
    hostile[12] = hostile[13] = hostile[14] = hostile[15] = 0xFF;   // 65535 × 65535 claimed over 48 bytes
    std::vector<uint8_t> cut = writeTga(huge, {TgaLayout::TRUE_COLOUR, 24, true});
    cut.resize(cut.size() - 5);
    openArchive(TestArchive()
                    .add("data\\readme.txt", "\xC7\xD1\xB1\xDB line\nnext\r\nlast")
                    .add("data\\map.gat", big)
                    .add("data\\broken.txt", "text").stream({0x78, 0x9C, 0xFF, 0xFF})
                    .add("data\\hostile.tga", hostile)
                    .add("data\\cut.tga", cut)
                    .add("data\\notpng.png", std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0})
                    .writeTo(dir));

    PreviewState text = preview(L"data\\readme.txt");
    EXPECT_EQ(text.body, L"\u00C7\u00D1\u00B1\u00DB line\r\nnext\r\nlast") << "the ANSI form: Windows-1252";
    EXPECT_EQ(text.header, L"data\\readme.txt\r\n原始长度：20 字节    压缩长度：" +
                               std::to_wstring(app.currentArchive->storedEntries()[0]->compressedSize()) + L" 字节");
    SendMessageW(item(IDC_KOREAN_NAMES), BM_SETCHECK, BST_CHECKED, 0);
    text = preview(L"data\\readme.txt");
    EXPECT_EQ(text.body, L"\uD55C\uAE00 line\r\nnext\r\nlast") << "the 949 form";
    SendMessageW(item(IDC_KOREAN_NAMES), BM_SETCHECK, BST_UNCHECKED, 0);

    const PreviewState hex = preview(L"data\\map.gat");
    EXPECT_EQ(hex.body.substr(0, 59), L"00000000  00 07 0E 15 1C 23 2A 31-38 3F 46 4D 54 5B 62 69  ");
    EXPECT_EQ(hex.body.size(), 4096u * 77) << "the first 64 KiB";
    EXPECT_EQ(hex.reason, L"只显示前 64 KB");
    EXPECT_EQ(hex.imageWidth, 0);

    const struct { const wchar_t* name; const wchar_t* reason; bool hexBody; } failures[] = {
        {L"data\\broken.txt", L"无法预览：压缩数据有误！", false},
        {L"data\\hostile.tga", L"TGA图像过大，以十六进制显示", true},
        {L"data\\cut.tga", L"TGA文件不完整，以十六进制显示", true},
        {L"data\\notpng.png", L"图像无法解码，以十六进制显示", true},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(std::string(f.name, f.name + wcslen(f.name)));
        const PreviewState state = preview(f.name);
        EXPECT_EQ(state.reason, f.reason);
        EXPECT_EQ(state.title, std::wstring(L"预览 - ") + f.name);
        EXPECT_EQ(state.imageWidth, 0);
        EXPECT_EQ(state.body.rfind(L"00000000  ", 0) == 0, f.hexBody) << std::string(state.body.begin(), state.body.end());
    }
}

// Moved to a 150 % monitor: the window takes the size the system suggests, and its margins and
// text grow by half; the fixed font of a hex body follows too.
TEST_F(PreviewTest, FollowsItsWindowToAnotherDpi) {
    openArchive(TestArchive().add("data\\a.txt", "alpha").add("data\\b.bin", std::vector<uint8_t>{0, 1, 2}).writeTo(dir));
    preview(L"data\\b.bin");
    const HWND window = app.previewWindow;
    ASSERT_NE(window, nullptr);
    const HWND header = GetWindow(window, GW_CHILD);
    const HWND body = GetWindow(header, GW_HWNDNEXT);
    const auto fontHeight = [](HWND control) {
        LOGFONTW face{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(face), &face);
        return std::abs(face.lfHeight);
    };
    const auto leftInClient = [&](HWND control) {
        RECT bounds;
        GetWindowRect(control, &bounds);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&bounds), 2);
        return bounds.left;
    };
    const int textHeight = fontHeight(header);
    const int fixedHeight = fontHeight(body);
    ASSERT_GT(textHeight, 0);
    EXPECT_EQ(leftInClient(body), 6);

    RECT suggested;
    GetWindowRect(window, &suggested);
    suggested.right = suggested.left + (suggested.right - suggested.left) * 3 / 2;
    suggested.bottom = suggested.top + (suggested.bottom - suggested.top) * 3 / 2;
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RECT now;
    GetWindowRect(window, &now);
    EXPECT_EQ(now.right - now.left, suggested.right - suggested.left);
    EXPECT_EQ(now.bottom - now.top, suggested.bottom - suggested.top);
    EXPECT_EQ(leftInClient(header), 9);
    EXPECT_EQ(leftInClient(body), 9);
    EXPECT_EQ(fontHeight(header), MulDiv(textHeight, 3, 2));
    EXPECT_EQ(fontHeight(body), MulDiv(fixedHeight, 3, 2));

    preview(L"data\\a.txt");
    EXPECT_EQ(fontHeight(body), MulDiv(textHeight, 3, 2)) << "a text body in the text font at this DPI";
}

TEST_F(PreviewTest, FollowsTheFocusedRowAndWaitsWhileATaskRuns) {
    openArchive(TestArchive().add("data\\a.txt", "first").add("data\\b.txt", "second").writeTo(dir));
    EXPECT_EQ(preview(L"data\\a.txt").body, L"first");
    focusRow(1);
    EXPECT_EQ(previewState().title, L"预览 - data\\b.txt");
    EXPECT_EQ(previewState().body, L"second");

    app.uiState = UI_BUSY;
    focusRow(0);
    const PreviewState waiting = previewState();
    EXPECT_EQ(waiting.title, L"预览 - data\\a.txt");
    EXPECT_EQ(waiting.reason, L"任务进行中，暂时无法预览");
    EXPECT_EQ(waiting.body, L"");
    app.uiState = UI_ARCHIVE_OPEN;

    DestroyWindow(app.previewWindow);
    EXPECT_EQ(app.previewWindow, nullptr);
    focusRow(1);
    EXPECT_FALSE(previewState().open) << "a closed preview stays closed";

    openPreview();
    EXPECT_TRUE(previewState().open);
    click(IDC_CLOSE);
    EXPECT_FALSE(previewState().open) << "closing the archive closes its preview";
}

}  // namespace
