#include "archive/archive.h"

#include <mutex>

#include "archive/header.h"
#include "archive/name_hash.h"
#include "archive/result_codes.h"
#include "platform/code_page.h"

GrfEntry::~GrfEntry() {
    releaseSource();
}

void GrfEntry::releaseSource() {
    if (source == SOURCE_OTHER_ENTRY && sourceEntry) {
        GrfEntry* const previous = sourceEntry;
        sourceEntry = nullptr;
        GrfArchive::releaseSourceRef(previous->owner);
    }
}

void GrfEntry::setName(std::string_view newName) {
    name.assign(newName);
    key = nameKey(name);
    nameAnsi = platform::decodeText(name, platform::ansiCodePage());
    nameKorean = platform::decodeText(name, platform::CODE_PAGE_KOREAN);
}

GrfArchive::~GrfArchive() {
    close();
    // Entries of an archive that never had a file (or lost it) still hold their references.
    std::unique_lock lock(listLock);
    storedIndex.clear();
    addedIndex.clear();
    entries.clear();
    addedEntries.clear();
}

bool GrfArchive::create(const std::u16string& newPath) {
    close();
    lastError = file.open(newPath, platform::ExclusiveFile::Mode::CREATE);
    if (lastError != 0 || !file.isOpen()) {
        file.close();
        return false;
    }
    const auto header = GrfHeader::empty().serialize();
    if (!file.write(header.data(), header.size()) || !file.flushToDisk()) {
        // Not a usable archive without its header.
        file.close();
        return fail(RESULT_OPEN_FAILED);
    }
    version = 0;
    modified = false;
    path = newPath;
    return true;
}

bool GrfArchive::open(const std::u16string& newPath) {
    return openAs(newPath, platform::ExclusiveFile::Mode::UPDATE);
}

bool GrfArchive::openForReading(const std::u16string& newPath) {
    return openAs(newPath, platform::ExclusiveFile::Mode::READ);
}

bool GrfArchive::openAs(const std::u16string& newPath, platform::ExclusiveFile::Mode mode) {
    close();
    lastError = file.open(newPath, mode);
    if (lastError != 0 || !file.isOpen()) {
        file.close();
        return false;
    }
    if (!readTable()) return false;
    modified = false;
    path = newPath;
    return true;
}

void GrfArchive::close() {
    if (!file.isOpen()) return;
    {
        // The window's list may be painting from the vectors on its own thread.
        std::unique_lock lock(listLock);
        storedIndex.clear();
        addedIndex.clear();
        entries.clear();
        entries.shrink_to_fit();
        addedEntries.clear();
        addedEntries.shrink_to_fit();
    }
    file.close();
}

GrfEntry* GrfArchive::entryAt(int64_t position) const {
    if (position < 0 || uint64_t(position) >= entries.size()) return nullptr;
    return entries[size_t(position)].get();
}

void GrfArchive::addSourceRef(GrfArchive* archive) {
    archive->sourceRefs.fetch_add(1, std::memory_order_relaxed);
}

void GrfArchive::releaseSourceRef(GrfArchive* archive) {
    // acq_rel: the thread that deletes must see every use made through other references.
    if (archive->sourceRefs.fetch_sub(1, std::memory_order_acq_rel) - 1 <= 0) delete archive;
}
