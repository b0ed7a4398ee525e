#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class GrfEntry;
class ProgressSink;

// Longest path we create: 259 units, as the 260-unit buffers of the window allow.
constexpr size_t MAX_PATH_UNITS = 259;

// True when `name` can be joined below a directory without leaving it: no empty, "." or ".."
// component (nor one of only dots and spaces), no leading separator, no ":", no device name such
// as "con" or "com1.txt". Both "\" and "/" separate.
bool isSafeEntryPath(std::u16string_view name);

// Writes `entry` below `targetDir` (with its directories when `keepDirs`), named by its Korean or
// ANSI form; creates the directories on the way. A failure is left in entry.owner->lastError.
void extractIntoDirectory(GrfEntry& entry, const std::u16string& targetDir, bool keepDirs, bool useKoreanNames,
                          ProgressSink& worker);

// The path below `targetDir` that extractIntoDirectory writes `entry` to; nullopt when its name
// is unsafe or the path too long.
std::optional<std::u16string> entryTargetPath(const GrfEntry& entry, const std::u16string& targetDir, bool keepDirs,
                                              bool useKoreanNames);
// Creates the directories above `path`, each level in turn.
void createParentDirectories(const std::u16string& path);

// The steps of GrfEntry::extractTo, apart so that a batch can inflate on other threads while one
// thread reads the archive and writes the files in list order.
struct EntryData {
    std::unique_ptr<uint8_t[]> stored;
    uint32_t storedSize = 0;
    uint32_t compressedSize = 0;
    int32_t coding = -1;
    std::unique_ptr<uint8_t[]> output;
    uint64_t capacity = 0;  // room for the inflated bytes
    uint32_t length = 0;    // inflated bytes
    int error = 0;          // why a step failed

    bool fail(int code) {
        error = code;
        return false;
    }
};
// Checks the entry against its file, reads its stored bytes and makes room for the inflated ones.
// Uses the archive's file: one thread at a time.
bool readEntryData(const GrfEntry& entry, EntryData& data);
// Decodes and inflates; touches no file or entry, so any thread may run it. `onChunk` hears of the
// stored bytes consumed.
bool inflateEntryData(EntryData& data, const std::function<void(size_t consumed)>& onChunk);
// Creates `targetPath` and writes the inflated bytes; 0 or the result code. `onWritten` hears of
// the bytes written so far.
int writeEntryFile(const EntryData& data, const std::u16string& targetPath,
                   const std::function<void(size_t written)>& onWritten);
// The progress of writing `data`'s file, as the share of its stored bytes the written part stands
// for; only what goes beyond `reported`, and never the end, which the entry's commit reports.
std::function<void(size_t written)> writeProgress(const EntryData& data, ProgressSink& progress, size_t& reported);
