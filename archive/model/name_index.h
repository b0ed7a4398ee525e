#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/thread_sync.h"

class GrfEntry;

// Multimap from name key to entry: equal keys keep their insertion order.
// Does not own the entries.
class NameIndex {
public:
    void insert(uint64_t key, GrfEntry* entry);
    // Replaces the contents with `entries` in their order: one sort for a whole table, when a name
    // is first looked up (a check or an extraction of a whole archive never looks one up).
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
    // The elements inserted later with one key, in insertion order. Most keys have one, which
    // then needs no vector.
    struct LaterRun {
        GrfEntry* first = nullptr;
        std::vector<GrfEntry*> more;
    };

    // Calls `visit` for every element of `later` with `key`, in insertion order, until it answers true.
    template <typename Visit>
    void visitLater(uint64_t key, Visit visit) const;
    // Takes `entry` out of the run of `key`; false when it is not there.
    bool removeLater(uint64_t key, GrfEntry* entry);
    // `bulk` keyed and sorted, after an assign; any thread that looks a name up may be first.
    const std::vector<std::pair<uint64_t, GrfEntry*>>& sortedBulk() const {
        if (!bulkSorted.load(std::memory_order_acquire)) sortBulk();
        return bulk;
    }
    void sortBulk() const;

    // A table's elements, sorted once by key (stable), and those inserted later, found by hash:
    // an add of a hundred thousand files looks each name up and inserts it.
    // Every element of `bulk` precedes any `later` element of the same key.
    mutable std::vector<std::pair<uint64_t, GrfEntry*>> bulk;
    mutable std::atomic<bool> bulkSorted{true};
    mutable platform::Mutex sortLock;
    std::unordered_map<uint64_t, LaterRun> later;
    size_t laterCount = 0;
    size_t bulkRemoved = 0;  // elements of `bulk` moved away by rekey, left as null holes
};

template <typename Visit>
void NameIndex::visitLater(uint64_t key, Visit visit) const {
    const auto run = later.find(key);
    if (run == later.end()) return;
    if (visit(run->second.first)) return;
    for (GrfEntry* entry : run->second.more) {
        if (visit(entry)) return;
    }
}
