#include <memory>
#include <mutex>
#include <new>

#include "archive/format/name_hash.h"
#include "archive/model/archive.h"
#include "platform/code_page.h"

GrfEntry::GrfEntry(GrfArchive* owner, EntryRecord record, EntryState state)
    : ownerArchive(owner), fields(std::move(record)), entryState(state) {
    nameChanged();
}

GrfEntry::~GrfEntry() {
    delete ansiForm.load(std::memory_order_acquire);
    delete koreanForm.load(std::memory_order_acquire);
}

void GrfEntry::placeData(uint32_t inputLength, uint32_t streamLength, uint64_t position) {
    const std::unique_lock lock(ownerArchive->listLock);
    fields.originalSize = inputLength;
    fields.compressedSize = streamLength;
    fields.storedSize = streamLength;
    fields.offset = position;
}

void GrfEntry::setOriginalSize(uint32_t length) {
    const std::unique_lock lock(ownerArchive->listLock);
    fields.originalSize = length;
}

void GrfEntry::setName(std::string_view newName) {
    fields.name.assign(newName);
    nameChanged();
}

void GrfEntry::nameChanged() {
    nameKeyValue = nameKey(fields.name);
    ansiCodePage = platform::ansiCodePage();
    delete ansiForm.exchange(nullptr, std::memory_order_acq_rel);
    delete koreanForm.exchange(nullptr, std::memory_order_acq_rel);
}

const std::u16string& GrfEntry::decodeName(WideForm& form, uint32_t codePage) const {
    // Asked for anywhere (a list painting, a report), where running out of memory must not end
    // the program: then the form is empty this time, as for a name that does not convert, and is
    // decoded again when next asked for.
    static const std::u16string NONE;
    std::unique_ptr<std::u16string> name(new (std::nothrow) std::u16string);
    if (!name) return NONE;
    try {
        *name = platform::decodeText(fields.name, codePage);
    } catch (const std::bad_alloc&) {
        return NONE;
    }
    const std::u16string* expected = nullptr;
    if (form.compare_exchange_strong(expected, name.get(), std::memory_order_acq_rel, std::memory_order_acquire)) {
        return *name.release();
    }
    return *expected;   // decoded meanwhile by another thread
}

void GrfEntry::setSourceFile(std::string_view newName, std::u16string diskPath, uint32_t size,
                             std::unique_ptr<uint8_t[]> bytes) {
    // Mostly the name it was given a moment ago: decoding it again costs an add of many files dearly.
    if (fields.name != newName) setName(newName);
    entryState = ENTRY_ADDED;
    sourceKind = SOURCE_DISK_FILE;
    sourceFile = std::move(diskPath);
    heldBytes = std::move(bytes);
    sourceRef.reset();
    streamUse = ImportedStream::RECOMPRESS;
    fields.originalSize = size;
}

void GrfEntry::setSourceEntry(std::shared_ptr<const GrfEntry> newSource, ImportedStream use) {
    if (fields.name != newSource->name()) setName(newSource->name());
    entryState = ENTRY_ADDED;
    sourceKind = SOURCE_OTHER_ENTRY;
    fields.originalSize = newSource->originalSize();
    sourceFile.clear();
    heldBytes.reset();
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
    ownerArchive->storedIndex.forEachMatch(fields.name, [&](GrfEntry* match) { isStored = isStored || match == this; });
    NameIndex& ownIndex = isStored ? ownerArchive->storedIndex : ownerArchive->addedIndex;

    const uint64_t previousKey = nameKeyValue;
    setName(newName);
    ownIndex.rekey(this, previousKey);
    ownerArchive->modified = true;
    return RenameResult::RENAMED;
}

