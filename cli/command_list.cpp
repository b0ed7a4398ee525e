#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "archive/model/entry_list_model.h"
#include "cli/commands.h"
#include "cli/console_io.h"
#include "cli/json_out.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/text.h"

namespace {

const char* stateWord(int32_t state) {
    switch (state) {
    case ENTRY_STORED: return "stored";
    case ENTRY_ADDED: return "added";
    case ENTRY_DELETED: return "deleted";
    default: return "?";
    }
}

ListColumn sortColumn(const std::string& key) {
    if (key == "packed") return ListColumn::COMPRESSED_SIZE;
    if (key == "size") return ListColumn::ORIGINAL_SIZE;
    if (key == "offset") return ListColumn::OFFSET;
    return ListColumn::NAME;
}

std::string tableRow(const GrfEntry& entry, bool stored, const std::u16string& shownName) {
    char line[80];
    if (!stored) {
        std::snprintf(line, sizeof line, "%10s %10" PRIu32 " %10s  %-7s  ", "N/A", entry.originalSize(), "N/A",
                      stateWord(entry.state()));
    } else {
        std::snprintf(line, sizeof line, "%10" PRIu32 " %10" PRIu32 " %10" PRIu64 "  %-7s  ", entry.compressedSize(),
                      entry.originalSize(), entry.offset(), stateWord(entry.state()));
    }
    return line + escapeControls(utf16ToUtf8(shownName)) + "\n";
}

}  // namespace

int runList(Session& session) {
    const CliOptions& options = session.options;
    const ArchiveHandle archive = session.openArchive(options.args[0], Session::Access::READ);
    if (!archive) return EXIT_FAILED;

    const EntryFilter filter(options.filter ? utf8ToUtf16(*options.filter) : u"");
    std::vector<uint32_t> rows = filterRows(*archive, filter, options.korean);
    if (!options.sort.empty()) {
        sortRows(*archive, rows, sortColumn(options.sort), !options.reverse);
    } else if (options.reverse) {
        std::reverse(rows.begin(), rows.end());
    }

    std::string out;
    if (!options.json) out = "    PACKED       SIZE     OFFSET  STATE    NAME\n";
    for (const uint32_t row : rows) {
        const GrfEntry& entry = *entryForRow(*archive, row);
        if (options.json) {
            out += entryJson(entry, session.shownName(entry)) + "\n";
        } else {
            out += tableRow(entry, isStoredRow(*archive, row), session.shownName(entry));
        }
        if (out.size() > (1u << 16)) {
            writeOut(out);
            out.clear();
        }
    }
    writeOut(out);
    return EXIT_OK;
}
