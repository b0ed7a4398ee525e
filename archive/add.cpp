#include "archive/add.h"

#include <memory>
#include <mutex>

#include "archive/archive.h"

void GrfEntry::setSourceFile(std::string_view newName, const std::u16string& diskPath, uint32_t size) {
    releaseSource();
    setName(newName);
    state = ENTRY_ADDED;
    source = SOURCE_DISK_FILE;
    sourcePath = diskPath;
    sourceEntry = nullptr;
    originalSize = size;
}

void GrfEntry::setSourceEntry(GrfEntry* newSource) {
    // The new reference comes first: when this entry already draws from the same archive, its
    // release below must not be the one that destroys that archive.
    GrfArchive::addSourceRef(newSource->owner);
    releaseSource();
    setName(newSource->name);
    state = ENTRY_ADDED;
    source = SOURCE_OTHER_ENTRY;
    sourceEntry = newSource;
    sourcePath.clear();
    originalSize = newSource->originalSize;
}

bool GrfEntry::rename(std::string_view newName) {
    if (!isValidEntryName(newName)) return false;
    // Deleted entries still hold their names, and so does every entry of either list.
    for (const NameIndex* index : {&owner->storedIndex, &owner->addedIndex}) {
        GrfEntry* const holder = index->find(newName);
        if (holder == this) {
            return true;  // its own name, perhaps in other letter case: kept as it is
        }
        if (holder != nullptr) {
            return false;
        }
    }

    // Which list holds us: a stored entry is in storedIndex under its current name.
    bool isStored = false;
    owner->storedIndex.forEachMatch(name, [&](GrfEntry* match) { isStored = isStored || match == this; });
    NameIndex& ownIndex = isStored ? owner->storedIndex : owner->addedIndex;

    const std::unique_lock lock(owner->listLock);
    const uint64_t previousKey = key;
    setName(newName);
    ownIndex.rekey(this, previousKey);
    owner->modified = true;
    return true;
}

GrfEntry* GrfArchive::appendAdded(std::unique_ptr<GrfEntry> entry) {
    addedEntries.push_back(std::move(entry));
    return addedEntries.back().get();
}

GrfEntry* GrfArchive::importEntry(GrfEntry* sourceEntry) {
    const std::unique_lock lock(listLock);
    // Every stored namesake, not just the first: a case-variant duplicate left behind would come
    // first in the next table and shadow the replacement.
    storedIndex.forEachMatch(sourceEntry->name, [this](GrfEntry* stored) {
        stored->state = ENTRY_DELETED;
        modified = true;
    });
    GrfEntry* entry = findAdded(sourceEntry->name);
    if (entry != nullptr) {
        entry->setSourceEntry(sourceEntry);
    } else {
        auto fresh = std::make_unique<GrfEntry>(this);
        fresh->setSourceEntry(sourceEntry);
        entry = appendAdded(std::move(fresh));
        addedIndex.insert(entry->key, entry);
    }
    modified = true;
    return entry;
}

namespace {

// Holds one source reference for the length of a merge, so an archive is neither destroyed while
// its entries are still being imported nor left open when none of them was.
class SourceRefGuard {
public:
    explicit SourceRefGuard(GrfArchive* archive) : archive(archive) { GrfArchive::addSourceRef(archive); }
    ~SourceRefGuard() { GrfArchive::releaseSourceRef(archive); }
    SourceRefGuard(const SourceRefGuard&) = delete;
    SourceRefGuard& operator=(const SourceRefGuard&) = delete;

private:
    GrfArchive* archive;
};

}  // namespace

int mergeArchive(GrfArchive& archive, const std::u16string& otherPath) {
    auto opened = std::make_unique<GrfArchive>();
    if (!opened->open(otherPath)) {
        return opened->lastError;
    }
    // From here on the references own it: the imported entries' and, for the merge, the guard's.
    GrfArchive* const other = opened.release();
    const SourceRefGuard guard(other);
    for (const auto& entry : other->entries) {
        archive.importEntry(entry.get());
    }
    return 0;
}

GrfEntry* addPendingFile(GrfArchive& archive, const std::string& name, const std::u16string& path, uint32_t size) {
    const std::unique_lock lock(archive.listLock);
    // Every stored namesake: a case-variant duplicate left behind would shadow the new file.
    archive.storedIndex.forEachMatch(name, [&archive](GrfEntry* stored) {
        stored->state = ENTRY_DELETED;
        archive.modified = true;
    });
    GrfEntry* entry = archive.findAdded(name);
    if (entry != nullptr) {
        entry->setSourceFile(name, path, size);
    } else {
        auto fresh = std::make_unique<GrfEntry>(&archive);
        fresh->setSourceFile(name, path, size);
        entry = archive.appendAdded(std::move(fresh));
        archive.addedIndex.insert(entry->key, entry);
    }
    archive.modified = true;
    return entry;
}
