#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

class GrfEntry;

// Ordered multimap from name key to entry: equal keys keep their insertion order.
// Does not own the entries.
class NameIndex {
public:
    void insert(uint64_t key, GrfEntry* entry);
    // Replaces the contents with `entries` in their order (one sort, for a whole table).
    void assign(const std::vector<GrfEntry*>& entries);
    // The first element, in index order, whose entry's name equals `name` (ASCII case folded).
    GrfEntry* find(std::string_view name) const;
    // Calls `visit` for every element whose entry's name equals `name` (ASCII case folded), in
    // index order: a table may hold names that differ only in case.
    void forEachMatch(std::string_view name, const std::function<void(GrfEntry*)>& visit) const;
    // Moves `entry` from `previousKey` to its current key, after the elements already there.
    void rekey(GrfEntry* entry, uint64_t previousKey);
    void clear();
    size_t size() const;

private:
    // A table's elements, sorted once by key (stable), and those inserted later.
    // Every element of `bulk` precedes any `later` element of the same key.
    std::vector<std::pair<uint64_t, GrfEntry*>> bulk;
    std::multimap<uint64_t, GrfEntry*> later;
    size_t bulkRemoved = 0;  // elements of `bulk` moved away by rekey, left as null holes
};
