#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class GrfEntry;

// Larger entries are previewed by their first part only.
constexpr uint32_t PREVIEW_MAX_BYTES = 64u << 20;
// The hex view shows this much of the data.
constexpr size_t PREVIEW_HEX_BYTES = 64u << 10;

// PICTURE: BMP, JPEG, PNG or GIF, for the system's image decoder; TGA for ours.
enum class PreviewKind { PICTURE, TGA, TEXT, HEX };

// An entry's data in memory: all of it, or its first `limit` bytes (then `truncated`).
struct PreviewData {
    std::vector<uint8_t> bytes;
    bool truncated = false;
    int error = 0;   // result code when the data cannot be read or inflated; bytes are then empty
};

// Reads a stored entry through its archive's file, an added one from the file or the other
// archive's entry it comes from. Uses the archives' files: not while a task may use them.
PreviewData readPreviewData(const GrfEntry& entry, uint32_t limit = PREVIEW_MAX_BYTES);

// How `bytes` are shown: by a picture signature, then by the name's extension (TGA has no
// signature), then as text when they hold no control bytes but white space, else as hex.
PreviewKind previewKindOf(std::string_view name, std::span<const uint8_t> bytes);

// Lines of offset, sixteen bytes in hex and their printable ASCII, of at most `limit` bytes.
std::u16string hexDump(std::span<const uint8_t> bytes, size_t limit = PREVIEW_HEX_BYTES);
