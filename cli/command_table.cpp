#include "cli/commands.h"
#include "cli/options.h"

namespace {

// Every command: what runs it, how it is called, and its help.
const std::vector<CommandInfo> COMMANDS = {
    {"create", runCreate, "ARCHIVE [--force]", "create an empty archive",
     "  --force              replace an existing file\n", 1, 1, OPT_FORCE},
    {"list", runList, "ARCHIVE [--filter TEXT] [--sort name|packed|size|offset] [--reverse] [--json]",
     "list the entries",
     "  --filter TEXT        only names containing TEXT, or matching it whole when it holds * or ?\n"
     "                       (ASCII letters match either case)\n"
     "  --sort KEY           order by name, packed (compressed) size, size or offset\n"
     "  --reverse            reverse the order\n"
     "  --json               one JSON object per line instead of the table\n",
     1, 1, OPT_FILTER | OPT_SORT | OPT_REVERSE | OPT_JSON},
    {"extract", runExtract, "ARCHIVE [NAME ...] [-C DIR] [--flat] | ARCHIVE NAME -o FILE",
     "extract entries (no NAME: every entry)",
     "  -C DIR               extract below DIR (default: the current directory)\n"
     "  --flat               leave out the directory part of each name\n"
     "  -o FILE              write the one NAME to FILE; -o - writes it to standard output\n"
     "  A NAME holding * or ? takes every entry whose whole name it matches.\n",
     1, SIZE_MAX, OPT_DIR | OPT_FLAT | OPT_OUTPUT},
    {"add", runAdd, "ARCHIVE DIR [--level N] [--json]", "add a directory tree as data\\..., then save",
     "  --level N            zlib level 0 to 9 (default 6)\n"
     "  --json               also one JSON object per left-out file on standard output\n"
     "  A missing ARCHIVE is created first. Each file left out is named on standard error,\n"
     "  a count closes the run, and the exit status is then 1.\n",
     2, 2, OPT_LEVEL | OPT_JSON},
    {"merge", runMerge, "ARCHIVE OTHER [--level N]", "add every entry of another archive, then save",
     "  --level N            zlib level 0 to 9 (default 6)\n"
     "  A missing ARCHIVE is created first.\n",
     2, 2, OPT_LEVEL},
    {"delete", runDelete, "ARCHIVE NAME ... [--level N]", "delete entries, then save",
     "  --level N            zlib level 0 to 9 (default 6)\n"
     "  A NAME holding * or ? takes every entry whose whole name it matches.\n", 2, SIZE_MAX, OPT_LEVEL},
    {"rename", runRename, "ARCHIVE OLD NEW [--level N]", "rename an entry, then save",
     "  --level N            zlib level 0 to 9 (default 6)\n", 3, 3, OPT_LEVEL},
    {"repack", runRepack, "ARCHIVE [--level N]", "rewrite the archive compactly at a level",
     "  --level N            zlib level 0 to 9 (default 6)\n"
     "  Of several records of one name, the one a look-up finds is kept; each other is named\n"
     "  on standard error as left out, a count closes the run, and the exit status is then 1.\n",
     1, 1, OPT_LEVEL},
    {"check", runCheck, "ARCHIVE", "inflate every entry and report the damaged ones", "", 1, 1, 0},
    {"diff", runDiff, "OLD NEW [--filter TEXT] [--json] [--patch PATCH [--level N] [--force]]",
     "list the entries added, removed or changed from OLD to NEW",
     "  OLD and NEW are each an archive or a directory, whose files are named data\\... as add\n"
     "  names them. Contents are compared inflated: levels do not matter, nor ASCII case of names.\n"
     "  --filter TEXT        only names containing TEXT, or matching it whole when it holds * or ?\n"
     "  --json               one JSON object per line instead of the text lines\n"
     "  --patch PATCH        also write an archive of the added and changed entries of NEW\n"
     "                       (removed entries are listed only)\n"
     "  --level N            zlib level 0 to 9 for the patch (default 6)\n"
     "  --force              replace an existing PATCH\n"
     "  Exit status: 0 equal, 1 different, 2 an entry or file could not be compared, or a usage error.\n",
     2, 2, OPT_FILTER | OPT_JSON | OPT_PATCH | OPT_LEVEL | OPT_FORCE},
};

}  // namespace

const std::vector<CommandInfo>& commandTable() { return COMMANDS; }

const CommandInfo* findCommand(const std::string& name) {
    for (const CommandInfo& info : COMMANDS) {
        if (name == info.name) return &info;
    }
    return nullptr;
}
