#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "cli/commands.h"
#include "cli/console_io.h"
#include "cli/json_out.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"

namespace {

// Stored names compare with only ASCII letters folded, byte by byte as unsigned values.
int compareNames(const std::string& a, const std::string& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        auto fold = [](char c) {
            const auto byte = uint8_t(c);
            return byte >= 'A' && byte <= 'Z' ? uint8_t(byte + 32) : byte;
        };
        const uint8_t x = fold(a[i]);
        const uint8_t y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

const char* stateWord(int32_t state) {
    switch (state) {
    case ENTRY_STORED: return "stored";
    case ENTRY_ADDED: return "added";
    case ENTRY_DELETED: return "deleted";
    default: return "?";
    }
}

void sortRows(std::vector<const GrfEntry*>& rows, const std::string& key) {
    if (key == "name") {
        std::stable_sort(rows.begin(), rows.end(), [](const GrfEntry* a, const GrfEntry* b) {
            return compareNames(a->name, b->name) < 0;
        });
        return;
    }
    uint32_t GrfEntry::*field = &GrfEntry::offset;
    if (key == "packed") field = &GrfEntry::compressedSize;
    if (key == "size") field = &GrfEntry::originalSize;
    // Stored rows before added ones, whose sizes and offsets are not yet real.
    std::stable_sort(rows.begin(), rows.end(), [field](const GrfEntry* a, const GrfEntry* b) {
        const bool aAdded = a->state == ENTRY_ADDED || a->source != SOURCE_ARCHIVE;
        const bool bAdded = b->state == ENTRY_ADDED || b->source != SOURCE_ARCHIVE;
        if (aAdded != bAdded) return !aAdded;
        return a->*field < b->*field;
    });
}


std::string tableRow(const GrfEntry& entry, const std::u16string& shownName) {
    char line[80];
    if (entry.state == ENTRY_ADDED || entry.source != SOURCE_ARCHIVE) {
        std::snprintf(line, sizeof line, "%10s %10" PRIu32 " %10s  %-7s  ", "N/A", entry.originalSize, "N/A",
                      stateWord(entry.state));
    } else {
        std::snprintf(line, sizeof line, "%10" PRIu32 " %10" PRIu32 " %10" PRIu32 "  %-7s  ", entry.compressedSize,
                      entry.originalSize, entry.offset, stateWord(entry.state));
    }
    return line + utf16ToUtf8(shownName) + "\n";
}

}  // namespace

int runList(Session& session) {
    const CliOptions& options = session.options;
    const ArchiveHandle archive = session.openArchive(options.args[0], Session::Access::READ);
    if (!archive) return EXIT_FAILED;

    const std::u16string filter = options.filter ? utf8ToUtf16(*options.filter) : u"";
    std::vector<const GrfEntry*> rows;
    auto take = [&](const std::vector<std::unique_ptr<GrfEntry>>& entries) {
        for (const auto& entry : entries) {
            if (session.shownName(*entry).find(filter) != std::u16string::npos) rows.push_back(entry.get());
        }
    };
    take(archive->entries);
    take(archive->addedEntries);
    if (!options.sort.empty()) sortRows(rows, options.sort);
    if (options.reverse) std::reverse(rows.begin(), rows.end());

    std::string out;
    if (!options.json) out = "    PACKED       SIZE     OFFSET  STATE    NAME\n";
    for (const GrfEntry* entry : rows) {
        if (options.json) {
            out += entryJson(*entry, session.shownName(*entry)) + "\n";
        } else {
            out += tableRow(*entry, session.shownName(*entry));
        }
        if (out.size() > (1u << 16)) {
            writeOut(out);
            out.clear();
        }
    }
    writeOut(out);
    return EXIT_OK;
}
