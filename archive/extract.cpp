#include "archive/extract.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

#include "archive/archive.h"
#include "archive/codec.h"
#include "archive/legacy_decode.h"
#include "archive/progress_sink.h"
#include "archive/result_codes.h"
#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"

namespace {

constexpr uint32_t INFLATE_CHUNK_BYTES = 65536;
// A batch writes its files in pieces so that progress also moves while a large one goes to disk.
constexpr size_t WRITE_PIECE_BYTES = 65536;

// inflateEnd runs however the scope is left.
class InflateStream {
public:
    InflateStream() = default;
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
    ~InflateStream() {
        if (active) inflateEnd(&stream);
    }
    bool init() {
        active = inflateInit(&stream) == Z_OK;
        return active;
    }
    // inflateEnd's own answer: it fails when the stream state was damaged.
    bool end() {
        active = false;
        return inflateEnd(&stream) == Z_OK;
    }
    z_stream stream{};

private:
    bool active = false;
};

bool isSeparator(char16_t c) {
    // "/" separates on Windows as well, so it is never a plain character of a name.
    return c == u'\\' || c == u'/';
}

bool isDotsAndSpaces(std::u16string_view component) {
    return std::all_of(component.begin(), component.end(), [](char16_t c) { return c == u'.' || c == u' '; });
}

// Windows opens these names as devices in every directory: "data\con.txt" would write to the
// console, not to a file below the target. Refused on every system, so both extract alike.
bool isDeviceName(std::u16string_view component) {
    std::u16string_view base = component.substr(0, component.find(u'.'));
    // Windows drops trailing spaces too: "con " is still the console.
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    auto upper = [](char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c; };
    auto equals = [&](std::u16string_view name) {
        return base.size() == name.size() &&
               std::equal(base.begin(), base.end(), name.begin(), [&](char16_t a, char16_t b) { return upper(a) == b; });
    };
    for (const std::u16string_view name : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
        if (equals(name)) return true;
    }
    if (base.size() == 4 && base[3] >= u'1' && base[3] <= u'9') {
        const std::u16string_view prefix = base.substr(0, 3);
        auto prefixIs = [&](std::u16string_view name) {
            return std::equal(prefix.begin(), prefix.end(), name.begin(), [&](char16_t a, char16_t b) { return upper(a) == b; });
        };
        if (prefixIs(u"COM") || prefixIs(u"LPT")) return true;
    }
    return false;
}

}  // namespace

bool readEntryData(const GrfEntry& entry, EntryData& data) {
    GrfArchive& archive = *entry.owner;
    // The inflater must not run past the stored bytes.
    if (entry.compressedSize > entry.storedSize) return data.fail(RESULT_BAD_DATA);
    // Checked against the file before allocating for it, so a forged size cannot exhaust memory.
    const uint64_t fileLength = archive.file.size();
    if (fileLength == UINT64_MAX || uint64_t(entry.offset) + entry.storedSize > fileLength) {
        return data.fail(RESULT_BAD_LENGTH);
    }
    data.stored.reset(new (std::nothrow) uint8_t[std::max<uint32_t>(entry.storedSize, 1)]);
    if (!data.stored) return data.fail(RESULT_BAD_LENGTH);
    if (!archive.file.seek(entry.offset) || archive.file.read(data.stored.get(), entry.storedSize) != entry.storedSize) {
        return data.fail(RESULT_BAD_LENGTH);
    }
    data.storedSize = entry.storedSize;
    data.compressedSize = entry.compressedSize;
    data.coding = entry.coding;
    // An entry claiming more than its stream can produce gets only what it can produce.
    data.capacity = std::min<uint64_t>(entry.originalSize,
                                       maxInflatedSize(entry.compressedSize));
    data.output.reset(new (std::nothrow) uint8_t[std::max<uint64_t>(data.capacity, 1)]);
    if (!data.output) return data.fail(RESULT_BAD_DATA);
    return true;
}

bool inflateEntryData(EntryData& data, const std::function<void(size_t consumed)>& onChunk) {
    if (data.coding >= 0) decodeData(data.stored.get(), data.storedSize, data.coding);
    const auto produced =
        inflateStream({data.stored.get(), data.compressedSize}, {data.output.get(), size_t(data.capacity)}, onChunk);
    data.stored.reset();
    if (!produced) return data.fail(RESULT_BAD_DATA);
    data.length = uint32_t(*produced);
    return true;
}

int writeEntryFile(const EntryData& data, const std::u16string& targetPath,
                   const std::function<void(size_t written)>& onWritten) {
    // Opened only now, so a damaged entry never leaves a file behind.
    platform::ExclusiveFile target;
    if (target.open(targetPath, platform::ExclusiveFile::Mode::WRITE) != 0 || !target.isOpen()) {
        return RESULT_OPEN_FAILED;
    }
    for (size_t written = 0; written < data.length;) {
        const size_t piece = std::min<size_t>(data.length - written, WRITE_PIECE_BYTES);
        if (!target.write(data.output.get() + written, piece)) {
            // A short file (a full disk) must not pass for the entry's data.
            target.close();
            platform::deleteFile(targetPath);
            return RESULT_OPEN_FAILED;
        }
        written += piece;
        if (onWritten) onWritten(written);
    }
    target.close();
    return 0;
}

std::function<void(size_t)> writeProgress(const EntryData& data, ProgressSink& progress, size_t& reported) {
    // The last piece is left to the entry's commit.
    return [&data, &progress, &reported](size_t written) {
        if (written >= data.length) return;
        const size_t share = size_t(uint64_t(data.compressedSize) * written / data.length);
        if (share > reported) {
            reported = share;
            progress.reportProgress(uint32_t(share), false);
        }
    };
}

bool GrfEntry::extractTo(const std::u16string& targetPath, ProgressSink& progress) {
    if (state != ENTRY_STORED) return false;
    GrfArchive& archive = *owner;
    EntryData data;
    if (!readEntryData(*this, data)) return archive.fail(data.error);
    const std::unique_ptr<uint8_t[]>& stored = data.stored;
    const std::unique_ptr<uint8_t[]>& output = data.output;
    const uint64_t capacity = data.capacity;

    if (coding >= 0) decodeData(stored.get(), storedSize, coding);

    InflateStream inflater;
    if (!inflater.init()) return archive.fail(RESULT_BAD_DATA);
    z_stream& zs = inflater.stream;
    zs.next_out = output.get();
    zs.avail_out = uInt(capacity);

    // Whole chunks, so progress moves within a large entry; a chunk shorter than the full size is
    // the last and finishes the stream. A size that is a multiple of the chunk ends with an empty
    // finishing call.
    uint32_t consumed = 0;
    for (;;) {
        const uint32_t chunk = std::min(compressedSize - consumed, INFLATE_CHUNK_BYTES);
        zs.next_in = stored.get() + consumed;
        zs.avail_in = chunk;
        const int result = inflate(&zs, chunk < INFLATE_CHUNK_BYTES ? Z_FINISH : Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            inflater.end();
            progress.reportProgress(consumed, true);
            return archive.fail(RESULT_BAD_DATA);
        }
        consumed += chunk;
        progress.reportProgress(consumed, false);
        if (chunk == INFLATE_CHUNK_BYTES) continue;
        const bool ended = inflater.end();
        progress.reportProgress(consumed, true);
        if (!ended) return archive.fail(RESULT_BAD_DATA);
        break;
    }
    {
        // The entry's size becomes what the stream really held; the window's list reads it.
        const std::unique_lock lock(archive.listLock);
        originalSize = uint32_t(capacity - zs.avail_out);
    }
    data.stored.reset();

    // Opened only now, so a damaged entry never leaves a file behind.
    platform::ExclusiveFile target;
    if (target.open(targetPath, platform::ExclusiveFile::Mode::WRITE) != 0 || !target.isOpen()) {
        return archive.fail(RESULT_OPEN_FAILED);
    }
    if (!target.write(output.get(), originalSize)) {
        // A short file (a full disk) must not pass for the entry's data.
        target.close();
        platform::deleteFile(targetPath);
        return archive.fail(RESULT_OPEN_FAILED);
    }
    target.close();
    return true;
}

bool isSafeEntryPath(std::u16string_view name) {
    size_t start = 0;
    for (;;) {
        const auto end = std::find_if(name.begin() + start, name.end(), isSeparator) - name.begin();
        const std::u16string_view component = name.substr(start, size_t(end) - start);
        // Empty covers a leading separator and doubled or trailing ones; Windows drops trailing dots
        // and spaces, so "..." or ". ." could stand for "..".
        if (component.empty() || isDotsAndSpaces(component)) return false;
        // A drive ("C:") or an alternate data stream ("a.txt:x").
        if (component.find(u':') != std::u16string_view::npos) return false;
        if (isDeviceName(component)) return false;
        if (size_t(end) == name.size()) return true;
        start = size_t(end) + 1;
    }
}

std::optional<std::u16string> entryTargetPath(const GrfEntry& entry, const std::u16string& targetDir, bool keepDirs,
                                              bool useKoreanNames) {
    const std::u16string& fullName = entry.displayName(useKoreanNames);
    // The name comes from an untrusted file: it may only ever name something below targetDir.
    if (!isSafeEntryPath(fullName)) return std::nullopt;
    std::u16string name = fullName;
    std::replace(name.begin(), name.end(), u'/', u'\\');
    if (!keepDirs) name.erase(0, name.rfind(u'\\') + 1);

    // An empty target means the current directory; a separator in front would mean the root.
    std::u16string path = targetDir;
    if (!path.empty() && path.back() != u'\\') path += u'\\';
    path += name;
    // Cutting the path would write some other file.
    if (path.size() > MAX_PATH_UNITS) return std::nullopt;
    return path;
}

void createParentDirectories(const std::u16string& path) {
    const size_t parentEnd = path.rfind(u'\\');
    if (parentEnd == std::u16string::npos) return;
    const std::u16string parent = path.substr(0, parentEnd);
    // Each level in turn; the ones that exist already (or a drive like "C:") just fail.
    for (size_t at = parent.find(u'\\'); at != std::u16string::npos; at = parent.find(u'\\', at + 1)) {
        if (at > 0) platform::createDirectory(parent.substr(0, at));
    }
    if (!parent.empty()) platform::createDirectory(parent);
}

void extractIntoDirectory(GrfEntry& entry, const std::u16string& targetDir, bool keepDirs, bool useKoreanNames,
                          ProgressSink& worker) {
    worker.reportStatus(entry.displayName(useKoreanNames).c_str());
    if (entry.state != ENTRY_STORED) return;
    const auto path = entryTargetPath(entry, targetDir, keepDirs, useKoreanNames);
    if (!path) {
        entry.owner->fail(RESULT_OPEN_FAILED);
        return;
    }
    createParentDirectories(*path);
    entry.extractTo(*path, worker);
}
