#pragma once
#include <string>

// The core keeps UTF-16 as char16_t, Win32 takes wchar_t: on this platform both are 16-bit
// UTF-16 units, so crossing over is a cast, made here and nowhere else.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must hold UTF-16 units");

inline const wchar_t* asWide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline const wchar_t* asWide(const std::u16string& text) {
    return asWide(text.c_str());
}
inline std::u16string fromWide(const wchar_t* text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}
