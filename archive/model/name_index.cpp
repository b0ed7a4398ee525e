#include "archive/model/name_index.h"

#include <algorithm>

#include "archive/model/archive.h"
#include "archive/format/name_hash.h"

namespace {

using Element = std::pair<uint64_t, GrfEntry*>;

bool keyLess(const Element& element, uint64_t key) {
    return element.first < key;
}

}  // namespace

void NameIndex::insert(uint64_t key, GrfEntry* entry) {
    LaterRun& run = later[key];
    if (run.first == nullptr) {
        run.first = entry;
    } else {
        run.more.push_back(entry);
    }
    ++laterCount;
}

bool NameIndex::removeLater(uint64_t key, GrfEntry* entry) {
    const auto found = later.find(key);
    if (found == later.end()) return false;
    LaterRun& run = found->second;
    if (run.first == entry) {
        if (run.more.empty()) {
            later.erase(found);
        } else {
            run.first = run.more.front();
            run.more.erase(run.more.begin());
        }
    } else {
        const auto at = std::find(run.more.begin(), run.more.end(), entry);
        if (at == run.more.end()) return false;
        run.more.erase(at);
    }
    --laterCount;
    return true;
}

void NameIndex::assign(const std::vector<GrfEntry*>& entries) {
    later.clear();
    laterCount = 0;
    bulk.clear();
    bulk.reserve(entries.size());
    // Keyed now: a rename before the first look-up moves the entry from the key it has here.
    for (GrfEntry* entry : entries) bulk.emplace_back(entry->key(), entry);
    bulkRemoved = 0;
    bulkSorted.store(bulk.empty(), std::memory_order_release);
}

void NameIndex::sortBulk() const {
    const std::lock_guard<platform::Mutex> hold(sortLock);
    if (bulkSorted.load(std::memory_order_acquire)) return;   // sorted meanwhile by another thread
    // A whole table at once: one stable sort is several times cheaper than a tree insert per
    // entry, and stability keeps table order among equal keys.
    std::stable_sort(bulk.begin(), bulk.end(),
                     [](const Element& a, const Element& b) { return a.first < b.first; });
    bulkSorted.store(true, std::memory_order_release);
}

GrfEntry* NameIndex::find(std::string_view name) const {
    const uint64_t key = nameKey(name);
    const auto& sorted = sortedBulk();
    for (auto it = std::lower_bound(sorted.begin(), sorted.end(), key, keyLess);
         it != sorted.end() && it->first == key; ++it) {
        if (it->second && namesEqual(it->second->name(), name)) return it->second;
    }
    GrfEntry* found = nullptr;
    visitLater(key, [&](GrfEntry* entry) {
        if (namesEqual(entry->name(), name)) found = entry;
        return found != nullptr;
    });
    return found;
}

void NameIndex::rekey(GrfEntry* entry, uint64_t previousKey) {
    bool found = false;
    sortedBulk();   // the entry's run of `previousKey` is found by binary search
    for (auto it = std::lower_bound(bulk.begin(), bulk.end(), previousKey, keyLess);
         it != bulk.end() && it->first == previousKey; ++it) {
        if (it->second == entry) {
            // A hole keeps the vector sorted without moving its tail.
            it->second = nullptr;
            ++bulkRemoved;
            found = true;
            break;
        }
    }
    if (!found) found = removeLater(previousKey, entry);
    if (found) insert(entry->key(), entry);
}

void NameIndex::clear() {
    bulk.clear();
    bulkSorted.store(true, std::memory_order_release);
    bulk.shrink_to_fit();
    later.clear();
    laterCount = 0;
    bulkRemoved = 0;
}

size_t NameIndex::size() const {
    return bulk.size() - bulkRemoved + laterCount;
}
