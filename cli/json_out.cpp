#include "cli/json_out.h"

#include <cstdio>

#include "archive/model/archive.h"
#include "cli/text.h"

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (uint8_t(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(uint8_t(c)));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string entryJson(const GrfEntry& entry, const std::u16string& shownName) {
    std::string out = "{\"name\":" + jsonString(utf16ToUtf8(shownName));
    out += ",\"nameHex\":\"" + hexOf(entry.name()) + "\"";
    out += ",\"compressedSize\":" + std::to_string(entry.compressedSize());
    out += ",\"storedSize\":" + std::to_string(entry.storedSize());
    out += ",\"originalSize\":" + std::to_string(entry.originalSize());
    out += ",\"offset\":" + std::to_string(entry.offset());
    out += ",\"flags\":" + std::to_string(unsigned(entry.flags()));
    out += ",\"coding\":" + std::to_string(entry.coding());
    out += ",\"state\":" + std::to_string(entry.state());
    return out + "}";
}
