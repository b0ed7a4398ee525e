// Opens arbitrary bytes as an archive and reads back every entry's fields and both name forms.
#include <cstdint>
#include <cstring>
#include <iterator>

#include "archive/model/archive.h"
#include "archive/base/result_codes.h"
#include "fuzz/fuzz_support.h"
#include "platform/code_page.h"

namespace {

bool equalFolded(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 0x20) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

// The ANSI form goes through whichever code page the user's system has; the last byte picks one,
// so the multi-byte tables see hostile names too.
constexpr uint32_t ANSI_CODE_PAGES[] = {1252, 932, 936, 949, 950, 874, 1250, 1251, 1253, 1254, 1255, 1256, 1257, 1258};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t choice = size ? data[size - 1] : 0;
    FUZZ_CHECK(platform::setAnsiCodePage(ANSI_CODE_PAGES[choice % std::size(ANSI_CODE_PAGES)]));
    writeScratchFile("in.grf", data, size);
    GrfArchive archive;
    if (!archive.open(scratchCorePath("in.grf"))) {
        // A refused file leaves nothing behind, and its reason has a text.
        FUZZ_CHECK(archive.lastError.code < 0);
        FUZZ_CHECK(resultText(archive.lastError.code)[0] != 0);
        FUZZ_CHECK(archive.storedEntries().empty() && archive.storedNameIndex().size() == 0);
        FUZZ_CHECK(!archive.file.isOpen());
        return 0;
    }
    FUZZ_CHECK(archive.version() == 1 || archive.version() == 2);
    FUZZ_CHECK(archive.storedNameIndex().size() == archive.storedEntries().size());
    const uint64_t fileLength = archive.file.size();
    FUZZ_CHECK(fileLength == size);

    uint64_t checksum = 0;
    for (int64_t i = 0; i < int64_t(archive.storedEntries().size()); ++i) {
        const GrfEntry* entry = archive.entryAt(i);
        FUZZ_CHECK(entry != nullptr && entry->owner() == &archive);
        FUZZ_CHECK(entry->state() == ENTRY_STORED);
        FUZZ_CHECK(entry->name().size() <= MAX_NAME_LENGTH);
        FUZZ_CHECK(std::memchr(entry->name().data(), 0, entry->name().size()) == nullptr);
        for (const bool korean : {false, true}) {
            const std::u16string& shown = entry->displayName(korean);
            FUZZ_CHECK(shown.size() <= MAX_NAME_LENGTH);
            for (const char16_t unit : shown) checksum += unit;
        }
        FUZZ_CHECK(entry->coding() >= -1 && entry->coding() <= 10);
        FUZZ_CHECK(entry->flags() == 1 || entry->flags() == 3 || entry->flags() == 5);
        // Every entry can be found by its own name, in any ASCII case.
        const GrfEntry* found = archive.findStored(entry->name());
        FUZZ_CHECK(found != nullptr && equalFolded(found->name(), entry->name()));
        checksum += entry->compressedSize() + entry->storedSize() + entry->originalSize() + entry->offset() + entry->key();
    }
    FUZZ_CHECK(archive.entryAt(-1) == nullptr);
    FUZZ_CHECK(archive.entryAt(int64_t(archive.storedEntries().size())) == nullptr);
    // Keeps the reads above from being optimised away.
    volatile uint64_t sink = checksum;
    (void)sink;
    return 0;
}
