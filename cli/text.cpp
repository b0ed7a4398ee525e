#include "cli/text.h"

#include <cstdint>

#include "platform/utf8.h"

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string hexOf(std::string_view bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        out += DIGITS[uint8_t(byte) >> 4];
        out += DIGITS[uint8_t(byte) & 0x0F];
    }
    return out;
}

std::optional<std::string> bytesFromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out += char(high << 4 | low);
    }
    return out;
}

std::string escapeControls(std::string_view text) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = uint8_t(text[i]);
        // U+0080 to U+009F: some terminals take these as controls too (U+009B starts a sequence).
        if (byte == 0xC2 && i + 1 < text.size() && uint8_t(text[i + 1]) >= 0x80 && uint8_t(text[i + 1]) <= 0x9F) {
            out += "\\u00";
            out += DIGITS[uint8_t(text[i + 1]) >> 4];
            out += DIGITS[uint8_t(text[i + 1]) & 0x0F];
            ++i;
            continue;
        }
        if (byte >= 0x80) {
            // A byte that is no part of a character (a POSIX file name that is not UTF-8): shown
            // as its value, so that the name can still be told and typed.
            const size_t length = platform::utf8SequenceAt(text, i);
            if (length == 0) {
                out += "\\x";
                out += DIGITS[byte >> 4];
                out += DIGITS[byte & 0x0F];
            } else {
                out.append(text.substr(i, length));
                i += length - 1;
            }
            continue;
        }
        if (byte >= 0x20 && byte != 0x7F) {
            out += char(byte);
            continue;
        }
        switch (byte) {
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\v': out += "\\v"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default:
            out += "\\x";
            out += DIGITS[byte >> 4];
            out += DIGITS[byte & 0x0F];
            break;
        }
    }
    return out;
}

std::string escapeStrayBytes(std::string_view text) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = platform::utf8SequenceAt(text, i);
        if (length == 0) {
            out += "\\x";
            out += DIGITS[uint8_t(text[i]) >> 4];
            out += DIGITS[uint8_t(text[i]) & 0x0F];
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}
