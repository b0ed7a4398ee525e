#include <algorithm>

#include "archive/model/archive.h"
#include "archive/format/name_hash.h"
#include "archive/model/name_index.h"

// Equal names under the folded comparison have equal keys, so every namesake sits in the key's
// run of `bulk` or of `later`; bulk ones come first, as in find().
void NameIndex::forEachMatch(std::string_view name, const std::function<void(GrfEntry*)>& visit) const {
    const uint64_t key = nameKey(name);
    const auto byKey = [](const std::pair<uint64_t, GrfEntry*>& element, uint64_t wanted) {
        return element.first < wanted;
    };
    const auto& sorted = sortedBulk();
    for (auto it = std::lower_bound(sorted.begin(), sorted.end(), key, byKey); it != sorted.end() && it->first == key; ++it) {
        if (it->second != nullptr && namesEqual(it->second->name(), name)) {
            visit(it->second);
        }
    }
    visitLater(key, [&](GrfEntry* entry) {
        if (namesEqual(entry->name(), name)) visit(entry);
        return false;
    });
}
