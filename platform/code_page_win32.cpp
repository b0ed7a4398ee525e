#include "platform/code_page.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

// 0 until --ansi-codepage picks one: then the system's own ANSI code page applies.
std::atomic<uint32_t> ansiOverride{0};

}  // namespace

uint32_t ansiCodePage() {
    const uint32_t chosen = ansiOverride.load(std::memory_order_relaxed);
    return chosen != 0 ? chosen : GetACP();
}

bool setAnsiCodePage(uint32_t codePage) {
    // UTF-7 and UTF-8 refuse the flags the conversions rely on.
    if (codePage == CP_UTF7 || codePage == CP_UTF8 || !IsValidCodePage(codePage)) return false;
    ansiOverride.store(codePage, std::memory_order_relaxed);
    return true;
}

std::u16string decodeText(std::string_view bytes, uint32_t codePage) {
    if (bytes.empty()) return {};
    // Every code page gives at most one unit per byte, so the buffer never needs a second try.
    std::u16string text(bytes.size(), u'\0');
    const int units = MultiByteToWideChar(codePage, MB_PRECOMPOSED | MB_ERR_INVALID_CHARS, bytes.data(),
        static_cast<int>(bytes.size()), reinterpret_cast<wchar_t*>(text.data()), static_cast<int>(text.size()));
    if (units <= 0 || static_cast<size_t>(units) > MAX_NAME_LENGTH) return {};
    text.resize(static_cast<size_t>(units));
    return text;
}

std::u16string decodeDocument(std::string_view bytes, uint32_t codePage) {
    if (bytes.empty()) return {};
    // At most one unit per byte; without MB_ERR_INVALID_CHARS a stray byte gets a stand-in.
    std::u16string text(bytes.size(), u'\0');
    const int units = MultiByteToWideChar(codePage, MB_PRECOMPOSED, bytes.data(), static_cast<int>(bytes.size()),
                                          reinterpret_cast<wchar_t*>(text.data()), static_cast<int>(text.size()));
    text.resize(units > 0 ? static_cast<size_t>(units) : 0);
    return text;
}

std::optional<std::string> encodeText(std::u16string_view text, uint32_t codePage) {
    if (text.empty()) return std::string();
    std::string bytes(text.size() * 2, '\0');
    BOOL usedDefault = FALSE;
    const int count = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS,
        reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()), bytes.data(),
        static_cast<int>(bytes.size()), nullptr, &usedDefault);
    if (count <= 0 || usedDefault || static_cast<size_t>(count) > MAX_NAME_LENGTH) return std::nullopt;
    bytes.resize(static_cast<size_t>(count));
    // A character may still come back different (a lone surrogate, say): only exact round trips count.
    if (decodeText(bytes, codePage) != text) return std::nullopt;
    return bytes;
}

}  // namespace platform
