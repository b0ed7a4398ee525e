#include "platform/utf8.h"

#include <cstdint>

namespace platform {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;
// Kept bytes 0x80 to 0xFF stand at U+DC80 to U+DCFF (bytes below 0x80 are always valid).
constexpr char16_t KEPT_BYTE_BASE = 0xDC00;

bool isKeptByte(std::u16string_view text, size_t i) {
    const char16_t unit = text[i];
    const bool afterHigh = i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
    return unit >= 0xDC80 && unit <= 0xDCFF && !afterHigh;
}

size_t utf8Width(char32_t c) {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

char* putUtf8(char* at, char32_t c) {
    if (c < 0x80) {
        *at++ = char(c);
    } else if (c < 0x800) {
        *at++ = char(0xC0 | (c >> 6));
        *at++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *at++ = char(0xE0 | (c >> 12));
        *at++ = char(0x80 | ((c >> 6) & 0x3F));
        *at++ = char(0x80 | (c & 0x3F));
    } else {
        *at++ = char(0xF0 | (c >> 18));
        *at++ = char(0x80 | ((c >> 12) & 0x3F));
        *at++ = char(0x80 | ((c >> 6) & 0x3F));
        *at++ = char(0x80 | (c & 0x3F));
    }
    return at;
}

// Hands each character of `text` to `character`, or, with `keepBytes`, a kept byte to `byte`.
template <typename Character, typename Byte>
void forEachUtf8Piece(std::u16string_view text, bool keepBytes, Character character, Byte byte) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            character(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (keepBytes && isKeptByte(text, i)) {
            byte(char(unit - KEPT_BYTE_BASE));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            character(REPLACEMENT);
        } else {
            character(unit);
        }
    }
}

size_t utf8LengthOf(std::u16string_view text, bool keepBytes) {
    size_t length = 0;
    forEachUtf8Piece(text, keepBytes, [&](char32_t c) { length += utf8Width(c); }, [&](char) { ++length; });
    return length;
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += char16_t(c);
    } else {
        c -= 0x10000;
        out += char16_t(0xD800 | (c >> 10));
        out += char16_t(0xDC00 | (c & 0x3FF));
    }
}

// Measured first, then written into one allocation: paths of Korean names take three bytes a
// character, and growing by appends cost a second allocation for most of them.
std::string toUtf8(std::u16string_view text, bool keepBytes) {
    std::string out(utf8LengthOf(text, keepBytes), '\0');
    char* at = out.data();
    forEachUtf8Piece(text, keepBytes, [&](char32_t c) { at = putUtf8(at, c); }, [&](char b) { *at++ = b; });
    return out;
}

std::u16string toUtf16(std::string_view text, bool keepBytes) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char32_t c = 0;
        if (const size_t length = utf8SequenceAt(text, i, &c); length != 0) {
            appendUtf16(out, c);
            i += length;
        } else {
            out += keepBytes ? char16_t(KEPT_BYTE_BASE + uint8_t(text[i])) : char16_t(REPLACEMENT);
            ++i;
        }
    }
    return out;
}

}  // namespace

size_t utf8SequenceAt(std::string_view text, size_t at, char32_t* character) {
    const auto lead = uint8_t(text[at]);
    size_t length = 0;
    char32_t c = 0;
    if (lead < 0x80) {
        length = 1;
        c = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto next = uint8_t(text[at + k]);
        if ((next & 0xC0) != 0x80) return 0;
        c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0;
    }
    if (character != nullptr) *character = c;
    return length;
}

std::string utf16ToUtf8(std::u16string_view text) {
    return toUtf8(text, false);
}

size_t utf8Length(std::u16string_view text) {
    return utf8LengthOf(text, false);
}

std::u16string utf8ToUtf16(std::string_view text) {
    return toUtf16(text, false);
}

std::string utf16ToUtf8KeepingBytes(std::u16string_view text) {
    return toUtf8(text, true);
}

std::u16string utf8ToUtf16KeepingBytes(std::string_view text) {
    return toUtf16(text, true);
}

bool holdsKeptBytes(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (isKeptByte(text, i)) return true;
    }
    return false;
}

}  // namespace platform
