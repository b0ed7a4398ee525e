#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/name_limit.h"

// The rules for entry names: 8-bit bytes of a code page, backslash-separated, compared with only
// ASCII letters folded.

using platform::MAX_NAME_LENGTH;

// ASCII letters only; any other byte or unit stays as it is.
template <typename Unit>
constexpr Unit asciiLower(Unit c) {
    return c >= Unit('A') && c <= Unit('Z') ? Unit(c + 0x20) : c;
}
template <typename Unit>
constexpr Unit asciiUpper(Unit c) {
    return c >= Unit('a') && c <= Unit('z') ? Unit(c - 0x20) : c;
}

// Byte comparison with only ASCII letter case folded.
// Whether `name` ends in a dot and `extension` (given in lower case), its ASCII letters in either
// case: "data\\a.TGA" has the extension "tga".
template <typename Unit>
constexpr bool hasExtension(std::basic_string_view<Unit> name, std::basic_string_view<Unit> extension) {
    if (name.size() <= extension.size() || name[name.size() - extension.size() - 1] != Unit('.')) return false;
    const auto tail = name.substr(name.size() - extension.size());
    for (size_t i = 0; i < extension.size(); ++i) {
        if (asciiLower(tail[i]) != extension[i]) return false;
    }
    return true;
}
constexpr bool hasExtension(std::string_view name, std::string_view extension) {
    return hasExtension<char>(name, extension);
}
constexpr bool hasExtension(std::u16string_view name, std::u16string_view extension) {
    return hasExtension<char16_t>(name, extension);
}

// Entry names (and the core's paths) separate with backslashes; a slash stands for one.
template <typename Text>
Text withBackslashes(Text text) {
    for (auto& unit : text) {
        if (unit == '/') unit = '\\';
    }
    return text;
}

bool namesEqual(std::string_view a, std::string_view b);
// The same comparison as an order: below 0, 0 or above 0, bytes as unsigned values.
int compareNames(std::string_view a, std::string_view b);
// 1 to MAX_NAME_LENGTH bytes without a zero byte: what a table record can hold.
bool isValidEntryName(std::string_view name);
// A wide name as the bytes stored in a table, in code page 949 or the ANSI code page;
// nullopt when it does not convert without loss or is no valid entry name.
std::optional<std::string> encodeEntryName(std::u16string_view name, bool useKoreanNames);
