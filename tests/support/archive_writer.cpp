#include "tests/support/archive_writer.h"

#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "archive/model/archive.h"
#include "archive/format/legacy_decode.h"
#include "archive/format/name_hash.h"
#include "archive/base/result_codes.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t HEADER_BYTES = 46;
constexpr size_t BLOCK = 8;

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

void setU32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(value >> (8 * i));
}

bool isHeaderOnlyName(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string suffix = name.substr(dot);
    for (char& c : suffix) {
        if (c >= 'A' && c <= 'Z') c = char(c + 0x20);
    }
    return suffix == ".gnd" || suffix == ".gat" || suffix == ".act" || suffix == ".str";
}

void unshuffleBlock(uint8_t* block) {
    static const uint8_t PAIRS[][2] = {{0x00, 0x2B}, {0x01, 0x68}, {0x48, 0x77}, {0x60, 0xFF},
                                       {0x6C, 0x80}, {0xB9, 0xC0}, {0xEB, 0xFE}};
    uint8_t out[BLOCK];
    std::memcpy(out, block, BLOCK);
    block[3] = out[0];
    block[4] = out[1];
    block[6] = out[2];
    block[0] = out[3];
    block[1] = out[4];
    block[2] = out[5];
    block[5] = out[6];
    uint8_t last = out[7];
    for (const auto& pair : PAIRS) {
        if (last == pair[0]) { last = pair[1]; break; }
        if (last == pair[1]) { last = pair[0]; break; }
    }
    block[7] = last;
}

std::string utf8(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::vector<uint8_t> toBytes(std::string_view text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> deflateBytes(const std::vector<uint8_t>& data, int level) {
    uLongf length = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(length);
    if (compress2(out.data(), &length, data.data(), uLong(data.size()), level) != Z_OK) {
        throw std::runtime_error("compress2 failed");
    }
    out.resize(length);
    return out;
}

std::vector<uint8_t> inflateBytes(const std::vector<uint8_t>& stream, size_t expected) {
    std::vector<uint8_t> out(expected + 1);
    uLongf length = uLongf(out.size());
    if (uncompress(out.data(), &length, stream.data(), uLong(stream.size())) != Z_OK) {
        throw std::runtime_error("uncompress failed");
    }
    out.resize(length);
    return out;
}

// The decoding's walk, with the shuffle inverted; the round itself is its own inverse.
void encodeData(uint8_t* data, size_t length, int32_t coding) {
    if (coding < 0) return;
    const size_t period = mixedPeriod(coding);
    size_t counter = 0;
    for (size_t i = 0; i < length / BLOCK; ++i) {
        uint8_t* block = data + i * BLOCK;
        if (i < 20) {
            decodeBlock(block);
        } else if (coding == 0) {
            break;
        } else if (i % period == 0) {
            decodeBlock(block);
        } else if (counter == 7) {
            unshuffleBlock(block);
            counter = 1;
        } else {
            ++counter;
        }
    }
}

void encodeNameArea(uint8_t* area, size_t length) {
    for (size_t at = 0; at + BLOCK <= length; at += BLOCK) {
        decodeBlock(area + at);
        for (size_t b = 0; b < BLOCK; ++b) area[at + b] = uint8_t(area[at + b] << 4 | area[at + b] >> 4);
    }
}

int32_t digitCount(uint32_t value) {
    int32_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

std::vector<uint8_t> sampleData(size_t size, uint32_t seed) {
    static const char* const WORDS[] = {"sprite ", "texture ", "monster ", "harbour ", "alpha ",
                                        "0.25 ", "\r\n", "effect ", "palette ", "wall "};
    std::vector<uint8_t> out;
    out.reserve(size);
    uint32_t s = seed * 2654435761u + 1;
    while (out.size() < size) {
        s = s * 1103515245u + 12345u;
        const char* word = WORDS[(s >> 16) % 10];
        for (const char* p = word; *p && out.size() < size; ++p) out.push_back(uint8_t(*p));
    }
    return out;
}

std::vector<uint8_t> noiseData(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint64_t s = seed * 0x9E3779B97F4A7C15ull + 7;
    for (auto& b : out) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        b = uint8_t(s >> 24);
    }
    return out;
}

std::vector<uint8_t> readWholeFile(const std::string& nativePath) {
    std::ifstream in(nativePath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string describe(const FailureReason& reason) {
    std::string text = "code " + std::to_string(reason.code) + " \"" + utf8(resultText(reason.code)) + "\"";
    if (reason.systemError != 0) text += " errno " + std::to_string(reason.systemError);
    const std::string cause = causeText(reason);
    if (!cause.empty()) text += " (" + cause + ")";
    if (!reason.subject.empty()) text += " subject " + utf8(reason.subject);
    return text;
}

std::string describe(const Outcome& outcome) {
    return outcome ? "success" : describe(outcome.reason());
}

std::string describe(const GrfArchive& archive) {
    return "lastError.code " + describe(archive.lastError);
}

TestArchive& TestArchive::legacy(uint32_t value) {
    isLegacy = true;
    versionField = value;
    return *this;
}

TestArchive& TestArchive::version(uint32_t value) {
    versionField = value;
    return *this;
}

TestArchive& TestArchive::damage(const Damage& value) {
    spoil = value;
    return *this;
}

TestArchive& TestArchive::rawRecords(std::vector<uint8_t> value, uint32_t recordCount) {
    records = std::move(value);
    rawRecordCount = recordCount;
    return *this;
}

TestArchive& TestArchive::level(int value) {
    zlibLevel = value;
    return *this;
}

TestArchive& TestArchive::add(std::string_view name, std::string_view data) {
    return add(name, toBytes(data));
}

TestArchive& TestArchive::add(std::string_view name, const std::vector<uint8_t>& data) {
    Entry entry;
    entry.name = std::string(name);
    entry.data = data;
    entries.push_back(std::move(entry));
    return *this;
}

TestArchive::Entry& TestArchive::last() {
    if (entries.empty()) throw std::logic_error("modifier before add()");
    return entries.back();
}

TestArchive& TestArchive::flags(uint8_t value) { last().flags = value; return *this; }
TestArchive& TestArchive::stream(std::vector<uint8_t> bytes) { last().stream = std::move(bytes); return *this; }
TestArchive& TestArchive::compressedSize(uint32_t value) { last().compressedSize = value; return *this; }
TestArchive& TestArchive::storedSize(uint32_t value) { last().storedSize = value; return *this; }
TestArchive& TestArchive::originalSize(uint32_t value) { last().originalSize = value; return *this; }
TestArchive& TestArchive::dataOffset(uint32_t absolute) { last().offset = absolute; return *this; }

std::vector<uint8_t> TestArchive::bytes() const {
    std::vector<uint8_t> out(HEADER_BYTES, 0);
    std::vector<uint8_t> table;
    uint32_t recordCount = 0;

    for (const Entry& entry : entries) {
        const std::vector<uint8_t> packed = entry.stream ? *entry.stream : deflateBytes(entry.data, zlibLevel);
        const uint32_t compressed = entry.compressedSize.value_or(uint32_t(packed.size()));
        int32_t coding = -1;
        if (isLegacy) {
            coding = isHeaderOnlyName(entry.name) ? 0 : digitCount(compressed);
        } else if (entry.flags == 3) {
            coding = digitCount(compressed);
        } else if (entry.flags == 5) {
            coding = 0;
        }
        std::vector<uint8_t> stored = packed;
        if (coding >= 0) {
            stored.resize((stored.size() + BLOCK - 1) / BLOCK * BLOCK, 0);
            encodeData(stored.data(), stored.size(), coding);
        }
        const uint32_t position = entry.offset.value_or(uint32_t(out.size()));
        out.insert(out.end(), stored.begin(), stored.end());
        const uint32_t storedLength = entry.storedSize.value_or(uint32_t(stored.size()));
        const uint32_t original = entry.originalSize.value_or(uint32_t(entry.data.size()));

        ++recordCount;
        if (isLegacy) {
            std::vector<uint8_t> area(entry.name.begin(), entry.name.end());
            area.push_back(0);
            area.resize((area.size() + BLOCK - 1) / BLOCK * BLOCK, 0);
            encodeNameArea(area.data(), area.size());
            putU32(table, uint32_t(area.size() + 6));
            table.push_back(0);
            table.push_back(0);
            table.insert(table.end(), area.begin(), area.end());
            putU32(table, 0);
            putU32(table, compressed + original + 715);
            putU32(table, storedLength + 37579);
            putU32(table, original);
            table.push_back(entry.flags);
            putU32(table, position - HEADER_BYTES);
        } else {
            table.insert(table.end(), entry.name.begin(), entry.name.end());
            table.push_back(0);
            putU32(table, compressed);
            putU32(table, storedLength);
            putU32(table, original);
            table.push_back(entry.flags);
            putU32(table, position - HEADER_BYTES);
        }
    }
    if (records) {
        table = *records;
        recordCount = rawRecordCount;
    }
    table.resize(table.size() - std::min<size_t>(spoil.cutTableBytes, table.size()));

    const uint32_t tablePosition = uint32_t(out.size());
    if (isLegacy) {
        out.insert(out.end(), table.begin(), table.end());
    } else {
        std::vector<uint8_t> packed = deflateBytes(table, zlibLevel);
        if (spoil.corruptPackedTable) {
            for (size_t i = 2; i < packed.size(); ++i) packed[i] ^= 0x5A;
        }
        putU32(out, spoil.packedTableSize.value_or(uint32_t(packed.size())));
        putU32(out, spoil.tableSize.value_or(uint32_t(table.size())));
        out.insert(out.end(), packed.begin(), packed.end());
    }

    static const char MAGIC[16] = "Master of Magic";
    std::memcpy(out.data(), MAGIC, 16);
    for (int i = 0; i < 14; ++i) out[16 + i] = uint8_t(i + 1);
    setU32(out, 30, uint32_t(int64_t(tablePosition) - HEADER_BYTES + spoil.moveTableOffset));
    setU32(out, 34, 0);
    setU32(out, 38, uint32_t(int64_t(recordCount) + 7 + spoil.addRecordCount));
    setU32(out, 42, versionField);
    out.resize(out.size() - std::min<size_t>(spoil.cutFileBytes, out.size()));
    return out;
}

std::u16string TestArchive::writeTo(const TempDir& dir, const std::u16string& name) const {
    const std::vector<uint8_t> content = bytes();
    std::ofstream file(dir.native(name), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    return dir.file(name);
}
