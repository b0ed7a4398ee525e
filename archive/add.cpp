#include "archive/add.h"

#include <memory>
#include <mutex>

#include "archive/archive.h"
#include "archive/entry_data.h"
#include "archive/progress_sink.h"

void GrfEntry::setSourceFile(std::string_view newName, const std::u16string& diskPath, uint32_t size) {
    setName(newName);
    entryState = ENTRY_ADDED;
    sourceKind = SOURCE_DISK_FILE;
    sourceFile = diskPath;
    sourceRef.reset();
    streamUse = ImportedStream::RECOMPRESS;
    originalSize = size;
}

void GrfEntry::setSourceEntry(std::shared_ptr<const GrfEntry> newSource, ImportedStream use) {
    setName(newSource->name());
    entryState = ENTRY_ADDED;
    sourceKind = SOURCE_OTHER_ENTRY;
    originalSize = newSource->originalSize;
    sourceFile.clear();
    streamUse = use;
    // Last: when this entry already draws from the same archive, the reference moved in keeps
    // that archive alive while the previous one is released.
    sourceRef = std::move(newSource);
}

RenameResult GrfEntry::rename(std::string_view newName) {
    if (!isValidEntryName(newName)) return RenameResult::INVALID_NAME;
    const std::unique_lock lock(ownerArchive->listLock);
    // Deleted entries still hold their names, and so does every entry of either list.
    for (const NameIndex* index : {&ownerArchive->storedIndex, &ownerArchive->addedIndex}) {
        GrfEntry* const holder = index->find(newName);
        if (holder == this) {
            return RenameResult::RENAMED;  // its own name, perhaps in other letter case: kept as it is
        }
        if (holder != nullptr) {
            return RenameResult::NAME_TAKEN;
        }
    }

    // Which list holds us: a stored entry is in storedIndex under its current name.
    bool isStored = false;
    ownerArchive->storedIndex.forEachMatch(entryName, [&](GrfEntry* match) { isStored = isStored || match == this; });
    NameIndex& ownIndex = isStored ? ownerArchive->storedIndex : ownerArchive->addedIndex;

    const uint64_t previousKey = nameKeyValue;
    setName(newName);
    ownIndex.rekey(this, previousKey);
    ownerArchive->modified = true;
    return RenameResult::RENAMED;
}

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
    const std::unique_lock lock(listLock);
    GrfEntry* const entry = pendingEntryFor(name);
    entry->setSourceFile(name, diskPath, size);
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

Outcome mergeArchive(GrfArchive& archive, const std::u16string& otherPath, ProgressSink& progress) {
    const auto other = std::make_shared<GrfArchive>();
    // Only read: a source on a read-only medium, or one another program reads, merges as well.
    if (Outcome opened = other->openForReading(otherPath); !opened) {
        return archive.fail(std::move(opened).takeReason());
    }
    // The imported entries share the other archive; with none of them it closes on return.
    for (const auto& entry : other->storedEntries()) {
        // Data that are not there would fail the whole save later, far from their cause.
        EntryData data;
        if (!storedBytesInFile(*entry, data)) {
            FailureReason reason = entryFailure(*entry, data, false);
            reason.operation = Operation::ADD;
            progress.reportItemFailure(reason);
            continue;
        }
        archive.importEntry(shareEntry(other, entry.get()));
    }
    return {};
}
