// Built for Linux and for Windows: both builds must read and write names identically.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/code_page.h"

using platform::decodeText;
using platform::encodeText;

namespace {

std::string hexOf(std::u16string_view text) {
    std::string out;
    char buffer[8];
    for (const char16_t unit : text) {
        std::snprintf(buffer, sizeof(buffer), "%04X ", unsigned(unit));
        out += buffer;
    }
    return out.empty() ? "(empty)" : out;
}

struct DecodeCase {
    const char* what;
    uint32_t codePage;
    std::string bytes;
    std::u16string expected;   // empty: the bytes do not convert
};

const DecodeCase DECODE_CASES[] = {
    {"hangul", 949, "\xB5\xA5\xC0\xCC\xC5\xCD", u"데이터"},
    {"hangul inside an ASCII path", 949, "data\\\xC7\xD1\xB1\xDB.txt", u"data\\한글.txt"},
    {"longer hangul name", 949, "data\\texture\\\xC0\xAF\xC0\xFA\xC0\xCE\xC5\xCD\xC6\xE4\xC0\xCC\xBD\xBA\\a.bmp",
        u"data\\texture\\유저인터페이스\\a.bmp"},
    {"hanja", 949, "\xF9\xD3\xED\xAE", u"漢字"},
    {"extension block of 949 (8C 63)", 949, "\x8C\x63", u"\uB620"},
    {"user-defined area maps to private use", 949, "\xC9\xA1", u"\uE000"},
    {"byte 0x80 alone", 949, "a\x80", u"a\u0080"},
    {"lone lead byte at the end", 949, "data\\\xB5", u""},
    {"lead byte followed by a space", 949, "\xB5 x", u""},
    {"lead byte followed by an invalid trail", 949, "\xB5\x7F", u""},
    {"undefined single byte", 949, "\xFF", u""},
    {"euro sign", 1252, "\x80", u"\u20AC"},
    {"latin letters", 1252, "caf\xE9 \xFC", u"café ü"},
    {"the five undefined bytes of 1252", 1252, "\x81\x8D\x8F\x90\x9D", u"\u0081\u008D\u008F\u0090\u009D"},
    {"hangul bytes read as 1252", 1252, "\xB5\xA5", u"\u00B5\u00A5"},
    {"simplified chinese", 936, "\xD6\xD0\xCE\xC4", u"中文"},
    {"GBK extension", 936, "\x81\x40", u"\u4E02"},
    {"traditional chinese", 950, "\xA4\xA4\xA4\xE5", u"中文"},
    {"japanese", 932, "\x93\xFA\x96\x7B", u"日本"},
    {"byte 0x81 of 1250 keeps its control", 1250, "\x81", u"\u0081"},
    {"undefined byte of 1253 is refused", 1253, "\xAA", u""},
    {"hebrew point", 1255, "\xCA", u"\u05BA"},
};

TEST(CodePage, DecodesLikeWindows) {
    for (const DecodeCase& c : DECODE_CASES) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(hexOf(decodeText(c.bytes, c.codePage)), hexOf(c.expected));
    }
}

TEST(CodePage, EncodesBackToTheSameBytes) {
    for (const DecodeCase& c : DECODE_CASES) {
        if (c.expected.empty()) continue;
        SCOPED_TRACE(c.what);
        const auto bytes = encodeText(c.expected, c.codePage);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(*bytes, c.bytes);
    }
}

TEST(CodePage, RefusesCharactersWithoutAnExactEquivalent) {
    const struct {
        const char* what;
        uint32_t codePage;
        std::u16string text;
    } cases[] = {
        {"A with macron would be written as A by best fit", 1252, u"\u0100.txt"},
        {"e acute is not in 949", 949, u"caf\u00E9"},
        {"hangul is not in 1252", 1252, u"data\\한글"},
        {"lone high surrogate", 949, u"a\xD800"},
        {"character outside the BMP", 949, u"\U0001F600"},
        {"private-use character Windows writes but cannot read back", 1253, u"\uF8F9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(encodeText(c.text, c.codePage).has_value());
    }
}

TEST(CodePage, WritesTheCodeWindowsPrefersForDuplicates) {
    // Small roman numeral one has a NEC-selected copy at ED/EE and an IBM code at FA; Windows writes FA.
    EXPECT_EQ(encodeText(u"\u2170", 932), std::optional<std::string>("\xFA\x40"));
    EXPECT_EQ(encodeText(u"\u2550", 950), std::optional<std::string>("\xF9\xF9"));
}

TEST(CodePage, KeepsNamesWithinTheirBuffers) {
    EXPECT_EQ(decodeText(std::string(259, 'a'), 949).size(), 259u);
    EXPECT_TRUE(decodeText(std::string(260, 'a'), 949).empty());
    EXPECT_TRUE(encodeText(std::u16string(259, u'a'), 1252).has_value());
    EXPECT_FALSE(encodeText(std::u16string(260, u'a'), 1252).has_value());
    // 130 hangul syllables are 130 units but 260 bytes, one more than a name may hold.
    EXPECT_FALSE(encodeText(std::u16string(130, u'한'), 949).has_value());
    EXPECT_TRUE(decodeText("", 949).empty());
    EXPECT_EQ(encodeText(u"", 949), std::optional<std::string>(""));
}

TEST(CodePage, AnsiCodePageCanBeChosen) {
    const uint32_t before = platform::ansiCodePage();
    EXPECT_FALSE(platform::setAnsiCodePage(12345));
    EXPECT_EQ(platform::ansiCodePage(), before);
    for (const uint32_t codePage : {936u, 950u, 932u, 949u, 1250u, 1258u, 874u}) {
        EXPECT_TRUE(platform::setAnsiCodePage(codePage)) << codePage;
        EXPECT_EQ(platform::ansiCodePage(), codePage);
    }
    EXPECT_TRUE(platform::setAnsiCodePage(before));
}

// FNV-1a over what decodeText gives for every byte and every byte pair above 0x7F, and what
// encodeText gives for every UTF-16 unit above 0x7F.
uint64_t fingerprint(uint32_t codePage) {
    uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            hash ^= (value >> (8 * i)) & 0xFF;
            hash *= 1099511628211ull;
        }
    };
    for (unsigned first = 0x80; first <= 0xFF; ++first) {
        mix(0xFFFF0000u | first);
        for (const char16_t unit : decodeText(std::string(1, char(first)), codePage)) mix(unit);
        for (unsigned second = 1; second <= 0xFF; ++second) {
            const std::string bytes{char(first), char(second)};
            const std::u16string text = decodeText(bytes, codePage);
            mix(0xFFFE0000u | unsigned(text.size()));
            for (const char16_t unit : text) mix(unit);
        }
    }
    for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
        const auto bytes = encodeText(std::u16string(1, char16_t(unit)), codePage);
        mix(bytes ? 0xFFFD0000u | unsigned(bytes->size()) : 0xFFFC0000u);
        if (bytes) {
            for (const char b : *bytes) mix(uint8_t(b));
        }
    }
    return hash;
}

TEST(CodePage, WholeTablesMatchWindows) {
    // Fingerprints taken from the Windows build under Wine 8, that is from MultiByteToWideChar
    // and WideCharToMultiByte themselves. The Linux build must reproduce every one, and the
    // Windows build fails here if the system's tables ever read a byte differently.
    const struct {
        uint32_t codePage;
        uint64_t expected;
    } cases[] = {
        {874, 0x98797AD1491ADF0Dull}, {932, 0xF85D155589CF40AFull}, {936, 0x73EB0745B5752AF1ull},
        {949, 0x393A4C56FC447145ull}, {950, 0x81763104030189B5ull}, {1250, 0xBE230CEF141385F9ull},
        {1251, 0x0DF3A34B8C9964BDull}, {1252, 0x2B74C622087F47CDull}, {1253, 0x289D508F28E3C2C6ull},
        {1254, 0x3E1BF9A48342BE55ull}, {1255, 0xB0FB897DFE10FC21ull}, {1256, 0x9C4327A75B6678ADull},
        {1257, 0xE65A6C22EC63F339ull}, {1258, 0xCC65F4BCAE7A35A5ull},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fingerprint(c.codePage), c.expected) << "code page " << c.codePage;
    }
}

}  // namespace
