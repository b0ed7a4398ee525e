#include <memory>
#include <mutex>

#include "archive/model/archive.h"

void GrfArchive::markDeleted(GrfEntry& entry) {
    const std::unique_lock lock(listLock);
    entry.entryState = ENTRY_DELETED;
    modified = true;
}

GrfEntry* GrfArchive::pendingEntryFor(std::string_view name) {
    // Every stored namesake, not just the first: a case-variant duplicate left behind would come
    // first in the next table and shadow the replacement.
    storedIndex.forEachMatch(name, [](GrfEntry* stored) { stored->entryState = ENTRY_DELETED; });
    modified = true;
    GrfEntry* const pending = findAdded(name);
    if (pending != nullptr) return pending;
    auto fresh = std::make_unique<GrfEntry>(this);
    fresh->setName(name);
    addedEntries.push_back(std::move(fresh));
    GrfEntry* const entry = addedEntries.back().get();
    addedIndex.insert(entry->key(), entry);
    return entry;
}

GrfEntry* GrfArchive::addFile(std::string_view name, const std::u16string& diskPath, uint32_t size) {
    return addFile(name, diskPath, size, nullptr);
}

GrfEntry* GrfArchive::addFile(std::string_view name, std::u16string diskPath, uint32_t size,
                              std::unique_ptr<uint8_t[]> bytes) {
    const std::unique_lock lock(listLock);
    GrfEntry* const entry = pendingEntryFor(name);
    entry->setSourceFile(name, std::move(diskPath), size, std::move(bytes));
    return entry;
}

GrfEntry* GrfArchive::importEntry(std::shared_ptr<const GrfEntry> sourceEntry, ImportedStream use) {
    const std::unique_lock lock(listLock);
    GrfEntry* const entry = pendingEntryFor(sourceEntry->name());
    entry->setSourceEntry(std::move(sourceEntry), use);
    return entry;
}

GrfEntry* GrfArchive::adoptEntry(std::unique_ptr<GrfEntry> entry) {
    const std::unique_lock lock(listLock);
    const bool isStored = entry->state() == ENTRY_STORED;
    EntryList& list = isStored ? entries : addedEntries;
    list.push_back(std::move(entry));
    GrfEntry* const adopted = list.back().get();
    (isStored ? storedIndex : addedIndex).insert(adopted->key(), adopted);
    return adopted;
}
