#include "platform/code_page.h"

#include <iconv.h>

#include <array>
#include <atomic>
#include <mutex>
#include <span>
#include <vector>

namespace platform {

namespace {

// Names are decoded twice each when an archive opens, hundreds of thousands of them, so every
// code page becomes a lookup table once. glibc's converters supply the tables; where they read
// a byte differently from Windows, the table is patched so both builds give the same UTF-16.

constexpr char16_t UNMAPPED = 0;  // byte 0 never reaches the tables: it is below 0x80

struct ByteRange {
    uint8_t first;
    uint8_t last;
};

struct CodePageInfo {
    uint32_t codePage;
    const char* iconvName;
    std::array<ByteRange, 2> leadBytes;  // empty ranges (first > last) for single-byte pages
};

constexpr ByteRange NONE{1, 0};

constexpr CodePageInfo CODE_PAGES[] = {
    {874, "WINDOWS-874", {NONE, NONE}},
    {932, "WINDOWS-31J", {ByteRange{0x81, 0x9F}, ByteRange{0xE0, 0xFC}}},
    {936, "CP936", {ByteRange{0x81, 0xFE}, NONE}},
    {949, "CP949", {ByteRange{0x81, 0xFE}, NONE}},
    {950, "CP950", {ByteRange{0x81, 0xFE}, NONE}},
    {1250, "CP1250", {NONE, NONE}},
    {1251, "CP1251", {NONE, NONE}},
    {1252, "CP1252", {NONE, NONE}},
    {1253, "CP1253", {NONE, NONE}},
    {1254, "CP1254", {NONE, NONE}},
    {1255, "CP1255", {NONE, NONE}},
    {1256, "CP1256", {NONE, NONE}},
    {1257, "CP1257", {NONE, NONE}},
    {1258, "CP1258", {NONE, NONE}},
};
constexpr size_t CODE_PAGE_COUNT = sizeof(CODE_PAGES) / sizeof(CODE_PAGES[0]);

// `count` consecutive codes (one byte, or lead << 8 | trail with the trail counting up) and
// the consecutive UTF-16 units Windows gives them.
struct Run {
    uint16_t bytes;
    char16_t unit;
    uint16_t count;
};

// Where Windows decodes more than glibc: the user-defined areas of the double-byte pages,
// which Windows maps onto the private use area, and one Hebrew point glibc lacks.
constexpr Run DECODE_936[] = {
    {0xA140, 0xE4C6, 63}, {0xA180, 0xE505, 33}, {0xA240, 0xE526, 63}, {0xA280, 0xE565, 33},
    {0xA2AB, 0xE766, 6}, {0xA2E3, 0xE76C, 2}, {0xA2EF, 0xE76E, 2}, {0xA2FD, 0xE770, 2},
    {0xA340, 0xE586, 63}, {0xA380, 0xE5C5, 33}, {0xA440, 0xE5E6, 63}, {0xA480, 0xE625, 33},
    {0xA4F4, 0xE772, 11}, {0xA540, 0xE646, 63}, {0xA580, 0xE685, 33}, {0xA5F7, 0xE77D, 8},
    {0xA640, 0xE6A6, 63}, {0xA680, 0xE6E5, 33}, {0xA6B9, 0xE785, 8}, {0xA6D9, 0xE78D, 7},
    {0xA6EC, 0xE794, 2}, {0xA6F3, 0xE796, 1}, {0xA6F6, 0xE797, 9}, {0xA740, 0xE706, 63},
    {0xA780, 0xE745, 33}, {0xA7C2, 0xE7A0, 15}, {0xA7F2, 0xE7AF, 13}, {0xA896, 0xE7BC, 11},
    {0xA8BC, 0xE7C7, 1}, {0xA8BF, 0xE7C8, 1}, {0xA8C1, 0xE7C9, 4}, {0xA8EA, 0xE7CD, 21},
    {0xA958, 0xE7E2, 1}, {0xA95B, 0xE7E3, 1}, {0xA95D, 0xE7E4, 3}, {0xA989, 0xE7E7, 13},
    {0xA997, 0xE7F4, 13}, {0xA9F0, 0xE801, 15}, {0xAAA1, 0xE000, 94}, {0xABA1, 0xE05E, 94},
    {0xACA1, 0xE0BC, 94}, {0xADA1, 0xE11A, 94}, {0xAEA1, 0xE178, 94}, {0xAFA1, 0xE1D6, 94},
    {0xD7FA, 0xE810, 5}, {0xF8A1, 0xE234, 94}, {0xF9A1, 0xE292, 94}, {0xFAA1, 0xE2F0, 94},
    {0xFBA1, 0xE34E, 94}, {0xFCA1, 0xE3AC, 94}, {0xFDA1, 0xE40A, 94}, {0xFE50, 0xE815, 47},
    {0xFE80, 0xE844, 33}, {0xFEA1, 0xE468, 94},
};
constexpr Run DECODE_949[] = {
    {0xC9A1, 0xE000, 94}, {0xFEA1, 0xE05E, 94},
};
constexpr Run DECODE_950[] = {
    {0x8140, 0xEEB8, 63}, {0x81A1, 0xEEF7, 94}, {0x8240, 0xEF55, 63}, {0x82A1, 0xEF94, 94},
    {0x8340, 0xEFF2, 63}, {0x83A1, 0xF031, 94}, {0x8440, 0xF08F, 63}, {0x84A1, 0xF0CE, 94},
    {0x8540, 0xF12C, 63}, {0x85A1, 0xF16B, 94}, {0x8640, 0xF1C9, 63}, {0x86A1, 0xF208, 94},
    {0x8740, 0xF266, 63}, {0x87A1, 0xF2A5, 94}, {0x8840, 0xF303, 63}, {0x88A1, 0xF342, 94},
    {0x8940, 0xF3A0, 63}, {0x89A1, 0xF3DF, 94}, {0x8A40, 0xF43D, 63}, {0x8AA1, 0xF47C, 94},
    {0x8B40, 0xF4DA, 63}, {0x8BA1, 0xF519, 94}, {0x8C40, 0xF577, 63}, {0x8CA1, 0xF5B6, 94},
    {0x8D40, 0xF614, 63}, {0x8DA1, 0xF653, 94}, {0x8E40, 0xE311, 63}, {0x8EA1, 0xE350, 94},
    {0x8F40, 0xE3AE, 63}, {0x8FA1, 0xE3ED, 94}, {0x9040, 0xE44B, 63}, {0x90A1, 0xE48A, 94},
    {0x9140, 0xE4E8, 63}, {0x91A1, 0xE527, 94}, {0x9240, 0xE585, 63}, {0x92A1, 0xE5C4, 94},
    {0x9340, 0xE622, 63}, {0x93A1, 0xE661, 94}, {0x9440, 0xE6BF, 63}, {0x94A1, 0xE6FE, 94},
    {0x9540, 0xE75C, 63}, {0x95A1, 0xE79B, 94}, {0x9640, 0xE7F9, 63}, {0x96A1, 0xE838, 94},
    {0x9740, 0xE896, 63}, {0x97A1, 0xE8D5, 94}, {0x9840, 0xE933, 63}, {0x98A1, 0xE972, 94},
    {0x9940, 0xE9D0, 63}, {0x99A1, 0xEA0F, 94}, {0x9A40, 0xEA6D, 63}, {0x9AA1, 0xEAAC, 94},
    {0x9B40, 0xEB0A, 63}, {0x9BA1, 0xEB49, 94}, {0x9C40, 0xEBA7, 63}, {0x9CA1, 0xEBE6, 94},
    {0x9D40, 0xEC44, 63}, {0x9DA1, 0xEC83, 94}, {0x9E40, 0xECE1, 63}, {0x9EA1, 0xED20, 94},
    {0x9F40, 0xED7E, 63}, {0x9FA1, 0xEDBD, 94}, {0xA040, 0xEE1B, 63}, {0xA0A1, 0xEE5A, 94},
    {0xFA40, 0xE000, 63}, {0xFAA1, 0xE03F, 94}, {0xFB40, 0xE09D, 63}, {0xFBA1, 0xE0DC, 94},
    {0xFC40, 0xE13A, 63}, {0xFCA1, 0xE179, 94}, {0xFD40, 0xE1D7, 63}, {0xFDA1, 0xE216, 94},
    {0xFE40, 0xE274, 63}, {0xFEA1, 0xE2B3, 94},
};
constexpr Run DECODE_1255[] = {
    {0x00CA, 0x05BA, 1},
};

// Characters with two codes in 950, where Windows writes the other one than the lowest.
constexpr Run ENCODE_PREFERRED_950[] = {
    {0xF9F9, 0x2550, 1}, {0xF9E9, 0x255E, 1}, {0xF9EB, 0x2561, 1}, {0xF9EA, 0x256A, 1},
    {0xA451, 0x5341, 1}, {0xA4CA, 0x5345, 1},
};

struct Patches {
    std::span<const Run> decode;
    std::span<const Run> encodePreferred;
};

Patches windowsPatches(uint32_t codePage) {
    switch (codePage) {
    case 936: return {DECODE_936, {}};
    case 949: return {DECODE_949, {}};
    case 950: return {DECODE_950, ENCODE_PREFERRED_950};
    case 1255: return {DECODE_1255, {}};
    default: return {};
    }
}

class CodePageTable {
public:
    explicit CodePageTable(const CodePageInfo& info);

    bool isDoubleByte() const { return !pairs.empty(); }
    bool isLead(uint8_t b) const { return lead[b]; }
    char16_t single(uint8_t b) const { return singles[b]; }
    char16_t pair(uint8_t leadByte, uint8_t trail) const { return pairs[(leadByte - 0x80) * 256 + trail]; }
    // Bytes for one UTF-16 unit: 0 when it has no exact equivalent, else one byte or lead << 8 | trail.
    uint16_t encodeUnit(char16_t unit) const { return reverse[unit]; }

private:
    void setPair(uint8_t leadByte, uint8_t trail, char16_t unit) { pairs[(leadByte - 0x80) * 256 + trail] = unit; }
    void buildReverse(uint32_t codePage);
    void setCode(uint16_t bytes, char16_t unit) {
        if (bytes < 256) {
            singles[bytes] = unit;
        } else {
            setPair(uint8_t(bytes >> 8), uint8_t(bytes), unit);
        }
    }

    std::array<char16_t, 256> singles{};
    std::array<bool, 256> lead{};
    std::vector<char16_t> pairs;     // lead bytes 0x80..0xFF, 256 trails each
    std::vector<uint16_t> reverse;   // every UTF-16 unit
};

// One character through iconv; UNMAPPED unless all of `input` makes exactly one UTF-16 unit.
char16_t convertOne(iconv_t cd, const char* input, size_t length) {
    char16_t out[4];
    char* in = const_cast<char*>(input);
    size_t inLeft = length;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0) return UNMAPPED;
    if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == size_t(-1)) return UNMAPPED;
    const size_t units = (sizeof(out) - outLeft) / sizeof(char16_t);
    return units == 1 ? out[0] : UNMAPPED;
}

CodePageTable::CodePageTable(const CodePageInfo& info) {
    for (const ByteRange& range : info.leadBytes) {
        for (unsigned b = range.first; b <= range.last; ++b) lead[b] = true;
    }
    const bool doubleByte = info.leadBytes[0].first <= info.leadBytes[0].last;
    if (doubleByte) pairs.assign(128 * 256, UNMAPPED);

    // Little-endian UTF-16, as on every machine we build for: the units come straight out of the buffer.
    const iconv_t cd = iconv_open("UTF-16LE", info.iconvName);
    if (cd != iconv_t(-1)) {
        for (unsigned b = 1; b < 256; ++b) {
            if (lead[b]) continue;
            const char c = char(b);
            singles[b] = convertOne(cd, &c, 1);
        }
        if (doubleByte) {
            for (unsigned l = 0x80; l < 256; ++l) {
                if (!lead[l]) continue;
                // A zero trail would end the name early; no code page uses one.
                for (unsigned t = 1; t < 256; ++t) {
                    const char both[2] = {char(l), char(t)};
                    setPair(uint8_t(l), uint8_t(t), convertOne(cd, both, 2));
                }
            }
        }
        iconv_close(cd);
    }
    // Windows reads the bytes 0x80..0x9F that a code page leaves undefined as the C1 controls
    // of the same number.
    for (unsigned b = 0x80; b <= 0x9F; ++b) {
        if (!lead[b] && singles[b] == UNMAPPED) singles[b] = char16_t(b);
    }
    for (const Run& run : windowsPatches(info.codePage).decode) {
        for (uint16_t i = 0; i < run.count; ++i) setCode(uint16_t(run.bytes + i), char16_t(run.unit + i));
    }
    buildReverse(info.codePage);
}

void CodePageTable::buildReverse(uint32_t codePage) {
    reverse.assign(65536, 0);
    // Pairs first, then single bytes over them: where a character has both forms, Windows
    // writes the shorter one. Lower codes win among equals.
    if (isDoubleByte()) {
        for (unsigned l = 0xFF; l >= 0x80; --l) {
            if (!lead[l]) continue;
            for (unsigned t = 0xFF; t >= 1; --t) {
                const char16_t unit = pair(uint8_t(l), uint8_t(t));
                if (unit != UNMAPPED) reverse[unit] = uint16_t(l << 8 | t);
            }
        }
    }
    for (unsigned b = 0xFF; b >= 1; --b) {
        if (!lead[b] && singles[b] != UNMAPPED) reverse[singles[b]] = uint16_t(b);
    }
    if (codePage == 932) {
        // Windows writes the IBM extensions (leads 0xFA..0xFC) rather than their NEC-selected
        // copies (leads 0xED, 0xEE).
        for (unsigned l = 0xFA; l <= 0xFC; ++l) {
            for (unsigned t = 1; t < 256; ++t) {
                const char16_t unit = pair(uint8_t(l), uint8_t(t));
                const unsigned current = reverse[unit] >> 8;
                if (unit != UNMAPPED && (current == 0xED || current == 0xEE)) reverse[unit] = uint16_t(l << 8 | t);
            }
        }
    }
    const Patches patches = windowsPatches(codePage);
    for (const Run& run : patches.encodePreferred) {
        for (uint16_t i = 0; i < run.count; ++i) reverse[char16_t(run.unit + i)] = uint16_t(run.bytes + i);
    }
}

// Built on first use and never freed: any thread may convert a name until the program ends.
struct LazyTable {
    std::once_flag built;
    const CodePageTable* table = nullptr;
};
LazyTable tables[CODE_PAGE_COUNT];

// The table of a supported code page; null for any other code page.
const CodePageTable* tableFor(uint32_t codePage) {
    for (size_t i = 0; i < CODE_PAGE_COUNT; ++i) {
        if (CODE_PAGES[i].codePage != codePage) continue;
        LazyTable& lazy = tables[i];
        std::call_once(lazy.built, [&] { lazy.table = new CodePageTable(CODE_PAGES[i]); });
        return lazy.table;
    }
    return nullptr;
}

std::atomic<uint32_t> ansiOverride{CODE_PAGE_WESTERN};

}  // namespace

uint32_t ansiCodePage() {
    return ansiOverride.load(std::memory_order_relaxed);
}

bool setAnsiCodePage(uint32_t codePage) {
    if (tableFor(codePage) == nullptr) return false;
    ansiOverride.store(codePage, std::memory_order_relaxed);
    return true;
}

std::u16string decodeDocument(std::string_view bytes, uint32_t codePage) {
    constexpr char16_t REPLACEMENT = u'\uFFFD';
    const CodePageTable* table = tableFor(codePage);
    std::u16string text;
    text.reserve(bytes.size());
    const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* const end = in + bytes.size();
    while (in != end) {
        const uint8_t b = *in++;
        if (b < 0x80) {
            text.push_back(b);
            continue;
        }
        char16_t unit = REPLACEMENT;
        if (table != nullptr && table->isLead(b)) {
            if (in != end) unit = table->pair(b, *in++);
        } else if (table != nullptr) {
            unit = table->single(b);
        }
        text.push_back(unit == UNMAPPED ? REPLACEMENT : unit);
    }
    return text;
}

std::u16string decodeText(std::string_view bytes, uint32_t codePage) {
    // Each unit takes one or two bytes, so longer input can never fit a name.
    if (bytes.size() > 2 * MAX_NAME_LENGTH) return {};
    const CodePageTable* table = tableFor(codePage);
    if (table == nullptr) return {};
    // Decode on the stack and allocate once at the exact length: this runs for every name
    // of an archive, twice.
    char16_t buffer[2 * MAX_NAME_LENGTH];
    char16_t* out = buffer;
    const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* const end = in + bytes.size();
    while (in != end) {
        const uint8_t b = *in++;
        if (b < 0x80) {
            *out++ = b;   // every supported code page keeps ASCII as is
            continue;
        }
        char16_t unit;
        if (table->isLead(b)) {
            if (in == end) return {};
            unit = table->pair(b, *in++);
        } else {
            unit = table->single(b);
        }
        if (unit == UNMAPPED) return {};
        *out++ = unit;
    }
    const size_t units = size_t(out - buffer);
    if (units > MAX_NAME_LENGTH) return {};
    return std::u16string(buffer, units);
}

std::optional<std::string> encodeText(std::u16string_view text, uint32_t codePage) {
    const CodePageTable* table = tableFor(codePage);
    if (table == nullptr) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        if (unit < 0x80) {
            bytes.push_back(char(unit));
            continue;
        }
        const uint16_t code = table->encodeUnit(unit);
        // Only characters whose bytes read back as themselves are in the table; Windows also
        // writes a few private-use characters as bytes it then refuses to read, which we refuse.
        if (code == 0) return std::nullopt;
        if (code > 0xFF) bytes.push_back(char(code >> 8));
        bytes.push_back(char(code & 0xFF));
    }
    if (bytes.size() > MAX_NAME_LENGTH) return std::nullopt;
    return bytes;
}

}  // namespace platform
