#include "archive/preview/entry_preview.h"

#include <algorithm>
#include <array>

#include "archive/model/archive.h"
#include "archive/codec/codec.h"
#include "archive/ops/entry_data.h"
#include "archive/format/entry_name.h"
#include "archive/format/legacy_decode.h"
#include "archive/base/result_codes.h"
#include "archive/ops/source_reader.h"

namespace {

// Text is told from binary by this much of its head.
constexpr size_t TEXT_SNIFF_BYTES = 8192;
constexpr size_t HEX_ROW_BYTES = 16;

bool startsWith(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> signature) {
    return bytes.size() >= signature.size() && std::equal(signature.begin(), signature.end(), bytes.begin());
}

bool looksLikeText(std::span<const uint8_t> bytes) {
    const auto head = bytes.first(std::min(bytes.size(), TEXT_SNIFF_BYTES));
    return std::none_of(head.begin(), head.end(), [](uint8_t b) {
        return b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != 0x1A;
    });
}

// A pending entry from a disk file: the file's head, read as it is now.
PreviewData readDiskFile(const std::u16string& path, uint32_t limit) {
    PreviewData data;
    SourceReader file;
    if (FailureReason opened = file.open(path); opened.failed()) {
        data.error = opened.operation == Operation::OPEN ? RESULT_OPEN_FAILED : RESULT_BAD_LENGTH;
        return data;
    }
    data.bytes.resize(size_t(std::min<uint64_t>(file.size(), limit)));
    if (file.read(data.bytes.data(), data.bytes.size()).failed()) {
        data.bytes.clear();
        data.error = RESULT_BAD_LENGTH;
        return data;
    }
    data.truncated = file.size() > limit;
    return data;
}

}  // namespace

PreviewData readPreviewData(const GrfEntry& entry, uint32_t limit) {
    if (entry.source() == SOURCE_DISK_FILE) {
        return readDiskFile(entry.sourcePath(), limit);
    }
    if (entry.source() == SOURCE_OTHER_ENTRY && entry.sourceEntry() != nullptr) {
        return readPreviewData(*entry.sourceEntry(), limit);
    }
    PreviewData preview;
    EntryData data;
    if (entry.originalSize() <= limit) {
        if (!loadEntryData(entry, data)) {
            preview.error = data.reason.code;
            return preview;
        }
        preview.bytes.assign(data.output.get(), data.output.get() + data.length);
        return preview;
    }
    // Only the head is wanted: the stream is inflated until the room is full.
    if (entry.compressedSize() > entry.storedSize()) {
        preview.error = RESULT_BAD_DATA;
        return preview;
    }
    if (!readStoredBytes(entry, entry.compressedSize(), data) || !reserveOutput(limit, data)) {
        preview.error = data.reason.code;
        return preview;
    }
    if (data.coding >= 0) {
        decodeData(data.storedBytes(), data.storedSize, data.coding);
    }
    const auto produced = inflatePrefix({data.storedBytes(), data.compressedSize}, {data.output.get(), limit});
    if (!produced) {
        preview.error = RESULT_BAD_DATA;
        return preview;
    }
    preview.bytes.assign(data.output.get(), data.output.get() + *produced);
    preview.truncated = true;
    return preview;
}

PreviewKind previewKindOf(std::string_view name, std::span<const uint8_t> bytes) {
    static const std::initializer_list<uint8_t> SIGNATURES[] = {
        {'B', 'M'}, {0xFF, 0xD8, 0xFF}, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, {'G', 'I', 'F', '8'}};
    for (const auto& signature : SIGNATURES) {
        if (startsWith(bytes, signature)) {
            return PreviewKind::PICTURE;
        }
    }
    if (hasExtension(name, "tga")) {
        return PreviewKind::TGA;
    }
    return looksLikeText(bytes) ? PreviewKind::TEXT : PreviewKind::HEX;
}

std::u16string hexDump(std::span<const uint8_t> bytes, size_t limit) {
    static constexpr char16_t DIGITS[] = u"0123456789ABCDEF";
    const auto shown = bytes.first(std::min(bytes.size(), limit));
    std::u16string text;
    text.reserve(shown.size() / HEX_ROW_BYTES * 80 + 80);
    for (size_t row = 0; row < shown.size(); row += HEX_ROW_BYTES) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            text.push_back(DIGITS[(row >> shift) & 0xF]);
        }
        text += u"  ";
        const size_t count = std::min(HEX_ROW_BYTES, shown.size() - row);
        for (size_t i = 0; i < HEX_ROW_BYTES; ++i) {
            if (i < count) {
                text.push_back(DIGITS[shown[row + i] >> 4]);
                text.push_back(DIGITS[shown[row + i] & 0xF]);
            } else {
                text += u"  ";
            }
            text.push_back(i == 7 && i + 1 < count ? u'-' : u' ');
        }
        text += u" ";
        for (size_t i = 0; i < count; ++i) {
            const uint8_t b = shown[row + i];
            text.push_back(b >= 0x20 && b < 0x7F ? char16_t(b) : u'.');
        }
        text += u"\r\n";
    }
    return text;
}
