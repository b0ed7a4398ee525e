#include "archive/model/entry_list_model.h"

#include <algorithm>

#include "archive/model/archive.h"
#include "archive/format/entry_name.h"

namespace {

uint64_t fieldOf(const GrfEntry& entry, ListColumn column) {
    switch (column) {
    case ListColumn::COMPRESSED_SIZE: return entry.compressedSize();
    case ListColumn::ORIGINAL_SIZE: return entry.originalSize();
    default: return entry.offset();
    }
}

// Sixteen folded bytes of a name from `depth` on, big-endian and zero-padded, so that comparing
// the two words compares those bytes as the name order does (a name ending inside the window
// sorts before its extensions; names hold no zero bytes).
struct NameKey {
    uint64_t head;
    uint64_t next;
    const std::string* name;
    uint32_t index;
};

void takeNameWindow(NameKey& key, size_t depth) {
    key.head = 0;
    key.next = 0;
    for (size_t i = 0; i < 16; ++i) {
        const size_t at = depth + i;
        uint64_t& word = i < 8 ? key.head : key.next;
        word = word << 8 | (at < key.name->size() ? asciiLower(static_cast<uint8_t>((*key.name)[at])) : 0);
    }
}

// Sorts by sixteen bytes at a time and goes deeper only into runs that are equal so far: names
// share long prefixes, and comparing whole names would touch each name's memory at every step.
// The list index breaks ties, so equal names come out in one order whatever the sort did.
void sortNames(std::vector<NameKey>::iterator first, std::vector<NameKey>::iterator last, size_t depth) {
    for (auto key = first; key != last; ++key) {
        takeNameWindow(*key, depth);
    }
    std::sort(first, last, [](const NameKey& a, const NameKey& b) {
        if (a.head != b.head) {
            return a.head < b.head;
        }
        return a.next != b.next ? a.next < b.next : a.index < b.index;
    });
    for (auto run = first; run != last;) {
        auto end = run + 1;
        bool longer = run->name->size() > depth + 16;
        while (end != last && end->head == run->head && end->next == run->next) {
            longer = longer || end->name->size() > depth + 16;
            ++end;
        }
        // Names whose windows are all equal and that all end inside them are equal: already in index order.
        if (end - run > 1 && longer) {
            sortNames(run, end, depth + 16);
        }
        run = end;
    }
}

}  // namespace

GrfEntry* entryForRow(const GrfArchive& archive, uint32_t index) {
    const size_t stored = archive.storedEntries().size();
    if (index < stored) {
        return archive.storedEntries()[index].get();
    }
    const size_t added = index - stored;
    return added < archive.pendingEntries().size() ? archive.pendingEntries()[added].get() : nullptr;
}

bool isStoredRow(const GrfArchive& archive, uint32_t index) {
    return index < archive.storedEntries().size();
}

// Letter case is folded for ASCII only, as names compare everywhere else; folding other
// letters would make the filter disagree with the name look-up.
EntryFilter::EntryFilter(std::u16string_view text)
    : wanted(text), wildcard(text.find_first_of(u"*?") != std::u16string_view::npos) {
    for (char16_t& unit : wanted) {
        unit = asciiLower(unit);
        hasLetters = hasLetters || (unit >= u'a' && unit <= u'z');
    }
}

bool EntryFilter::matches(std::u16string_view shownName) const {
    if (wildcard) {
        return matchesWildcard(wanted, shownName);
    }
    if (!hasLetters) {
        return shownName.find(wanted) != std::u16string_view::npos;
    }
    if (shownName.size() < wanted.size()) {
        return false;
    }
    // The first unit in either case is looked for plainly; only candidates compare folded.
    const char16_t first = wanted[0];
    const char16_t firstUpper = asciiUpper(first);
    const size_t lastStart = shownName.size() - wanted.size();
    for (size_t i = 0; i <= lastStart; ++i) {
        const char16_t unit = shownName[i];
        if (unit != first && unit != firstUpper) {
            continue;
        }
        size_t k = 1;
        while (k < wanted.size() && asciiLower(shownName[i + k]) == wanted[k]) {
            ++k;
        }
        if (k == wanted.size()) {
            return true;
        }
    }
    return false;
}

bool matchesWildcard(std::u16string_view pattern, std::u16string_view name) {
    // Greedy with one saved star: on a mismatch the last star takes one more unit. Linear in
    // practice and never recursive, whatever a pattern of many stars asks.
    size_t p = 0;
    size_t n = 0;
    size_t starAt = std::u16string_view::npos;
    size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || asciiLower(pattern[p]) == asciiLower(name[n]))) {
            ++p;
            ++n;
        } else if (starAt != std::u16string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<uint32_t> filterRows(const GrfArchive& archive, const EntryFilter& filter, bool useKoreanNames) {
    std::vector<uint32_t> rows;
    const auto addMatches = [&](const std::vector<std::unique_ptr<GrfEntry>>& list, uint32_t firstIndex) {
        for (size_t i = 0; i < list.size(); ++i) {
            if (filter.matches(list[i]->displayName(useKoreanNames))) {
                rows.push_back(firstIndex + static_cast<uint32_t>(i));
            }
        }
    };
    addMatches(archive.storedEntries(), 0);
    addMatches(archive.pendingEntries(), static_cast<uint32_t>(archive.storedEntries().size()));
    return rows;
}

int compareRows(const GrfArchive& archive, uint32_t a, uint32_t b, ListColumn column, bool ascending) {
    const uint32_t i = ascending ? a : b;
    const uint32_t j = ascending ? b : a;
    const GrfEntry* const x = entryForRow(archive, i);
    const GrfEntry* const y = entryForRow(archive, j);
    if (x == nullptr || y == nullptr) {
        return 0;
    }
    if (column == ListColumn::NAME) {
        return compareNames(x->name(), y->name());
    }
    const bool storedI = isStoredRow(archive, i);
    const bool storedJ = isStoredRow(archive, j);
    if (storedI != storedJ) {
        return storedI ? -1 : 1;
    }
    const uint64_t u = fieldOf(*x, column);
    const uint64_t v = fieldOf(*y, column);
    return u < v ? -1 : (u > v ? 1 : 0);
}

// The sort works on keys taken from the entries once, not through compareRows: resolving two
// entries per comparison costs several cache misses each, which made a 400,000-row sort take
// seconds. Descending is the ascending order turned round: one comparator without a direction
// to test in it, and ties in exactly reverse list order.
void sortRows(const GrfArchive& archive, std::vector<uint32_t>& rows, ListColumn column, bool ascending) {
    if (column == ListColumn::NAME) {
        static const std::string NO_NAME;
        std::vector<NameKey> keys;
        keys.reserve(rows.size());
        for (const uint32_t index : rows) {
            const GrfEntry* const entry = entryForRow(archive, index);
            keys.push_back({0, 0, entry != nullptr ? &entry->name() : &NO_NAME, index});
        }
        sortNames(keys.begin(), keys.end(), 0);
        for (size_t i = 0; i < keys.size(); ++i) {
            rows[i] = keys[i].index;
        }
        if (!ascending) {
            std::reverse(rows.begin(), rows.end());
        }
        return;
    }
    // Stored rows before added ones, then the field, then the list index: one 64-bit key per row.
    struct NumberKey {
        uint64_t key;
        uint32_t index;
    };
    std::vector<NumberKey> keys;
    keys.reserve(rows.size());
    for (const uint32_t index : rows) {
        const GrfEntry* const entry = entryForRow(archive, index);
        // Fields are below 2^33 (a position is a 32-bit field plus the header's length).
        const uint64_t value = entry != nullptr ? fieldOf(*entry, column) : 0;
        const uint64_t group = isStoredRow(archive, index) ? 0 : 1;
        keys.push_back({group << 40 | value, index});
    }
    std::sort(keys.begin(), keys.end(), [](const NumberKey& a, const NumberKey& b) {
        return a.key < b.key || (a.key == b.key && a.index < b.index);
    });
    for (size_t i = 0; i < keys.size(); ++i) {
        rows[i] = keys[i].index;
    }
    if (!ascending) {
        std::reverse(rows.begin(), rows.end());
    }
}
