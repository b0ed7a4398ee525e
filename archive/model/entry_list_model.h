#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class GrfArchive;
class GrfEntry;

// The entry list shown by the window and by `quarnel-cli list`. A row is a list index: the
// stored entries in table order, then the added ones. Every function here reads the archive's
// entry vectors and names; while a task may change them, the caller holds listLock shared.

enum class ListColumn : int { NAME = 0, COMPRESSED_SIZE = 1, ORIGINAL_SIZE = 2, OFFSET = 3 };

// The entry a list index names, or null.
GrfEntry* entryForRow(const GrfArchive& archive, uint32_t index);
// True for rows of the table as read; added rows have no packed size or position yet.
bool isStoredRow(const GrfArchive& archive, uint32_t index);

// Which shown names a filter text lets through: every name for an empty text; with a * or ?
// in it, the names the text matches whole as a wildcard pattern; else the names containing it.
// ASCII letters match either case.
class EntryFilter {
public:
    explicit EntryFilter(std::u16string_view text);
    bool matches(std::u16string_view shownName) const;

private:
    std::u16string wanted;   // ASCII letters folded
    bool wildcard;
    bool hasLetters = false; // without ASCII letters the plain search matches the same
};

// True when `pattern` matches all of `name`: * stands for any run of units, ? for one unit,
// ASCII letters match either case.
bool matchesWildcard(std::u16string_view pattern, std::u16string_view name);

// The rows whose shown name (949 form or ANSI form) the filter lets through, in list order.
std::vector<uint32_t> filterRows(const GrfArchive& archive, const EntryFilter& filter, bool useKoreanNames);

// Orders rows by a column: names byte by byte with ASCII letters folded, numbers as unsigned
// values with stored rows before added ones. Rows equal in the column keep list order
// ascending; descending is the exact reverse.
void sortRows(const GrfArchive& archive, std::vector<uint32_t>& rows, ListColumn column, bool ascending);
// The column's order of two rows (negative, zero, positive); rows equal in it give zero.
int compareRows(const GrfArchive& archive, uint32_t a, uint32_t b, ListColumn column, bool ascending);
