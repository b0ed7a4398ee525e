#include "archive/format/entry_name.h"

#include "platform/code_page.h"

// Only ASCII letters fold: bytes of 0x80 and above are letters in some code pages, but they are
// also halves of double-byte characters, and the names must stay distinct as the tables store them.

bool namesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(uint8_t(a[i])) != asciiLower(uint8_t(b[i]))) return false;
    }
    return true;
}

int compareNames(std::string_view a, std::string_view b) {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        // Names share long prefixes: equal bytes need no folding.
        if (a[i] == b[i]) continue;
        const uint8_t x = asciiLower(uint8_t(a[i]));
        const uint8_t y = asciiLower(uint8_t(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool isValidEntryName(std::string_view name) {
    // The table keeps names NUL-terminated: a zero byte inside would end the name early and
    // make the rest of the record unreadable.
    return !name.empty() && name.size() <= MAX_NAME_LENGTH && name.find('\0') == std::string_view::npos;
}

std::optional<std::string> encodeEntryName(std::u16string_view name, bool useKoreanNames) {
    const uint32_t codePage = useKoreanNames ? platform::CODE_PAGE_KOREAN : platform::ansiCodePage();
    auto bytes = platform::encodeText(name, codePage);
    if (!bytes || !isValidEntryName(*bytes)) return std::nullopt;
    return bytes;
}
