#include <mutex>

#include "archive/format/name_hash.h"
#include "archive/model/archive.h"
#include "platform/code_page.h"

GrfEntry::GrfEntry(GrfArchive* owner, const EntryRecord& record, EntryState state) : ownerArchive(owner), entryState(state) {
    compressedSize = record.compressedSize;
    storedSize = record.storedSize;
    originalSize = record.originalSize;
    offset = record.offset;
    coding = record.coding;
    flags = record.flags;
    setName(record.name);
}

EntryRecord GrfEntry::record() const {
    EntryRecord out;
    out.name = entryName;
    out.compressedSize = compressedSize;
    out.storedSize = storedSize;
    out.originalSize = originalSize;
    out.offset = offset;
    out.coding = coding;
    out.flags = flags;
    return out;
}

void GrfEntry::placeData(uint32_t inputLength, uint32_t streamLength, uint64_t position) {
    const std::unique_lock lock(ownerArchive->listLock);
    originalSize = inputLength;
    compressedSize = streamLength;
    storedSize = streamLength;
    offset = position;
}

void GrfEntry::setOriginalSize(uint32_t length) {
    const std::unique_lock lock(ownerArchive->listLock);
    originalSize = length;
}

void GrfEntry::setName(std::string_view newName) {
    entryName.assign(newName);
    nameKeyValue = nameKey(entryName);
    ansiName = platform::decodeText(entryName, platform::ansiCodePage());
    koreanName = platform::decodeText(entryName, platform::CODE_PAGE_KOREAN);
}

void GrfEntry::setSourceFile(std::string_view newName, const std::u16string& diskPath, uint32_t size) {
    setName(newName);
    entryState = ENTRY_ADDED;
    sourceKind = SOURCE_DISK_FILE;
    sourceFile = diskPath;
    sourceRef.reset();
    originalSize = size;
}

void GrfEntry::setSourceEntry(std::shared_ptr<const GrfEntry> newSource) {
    setName(newSource->name());
    entryState = ENTRY_ADDED;
    sourceKind = SOURCE_OTHER_ENTRY;
    originalSize = newSource->originalSize;
    sourceFile.clear();
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

