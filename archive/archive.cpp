#include "archive/archive.h"

#include <mutex>

#include "archive/header.h"
#include "archive/staging.h"
#include "archive/name_hash.h"
#include "archive/result_codes.h"
#include "platform/code_page.h"
#include "platform/disk_ops.h"

void GrfEntry::placeData(uint32_t inputLength, uint32_t streamLength, uint32_t position) {
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
    // Built beside its final place and moved there by the first save that completes, so an
    // interrupted or failed creation never leaves a half-written archive under the user's name.
    int error = 0;
    const auto temp = createStagingFile(newPath, &error);
    if (!temp) return fail(systemFailure(RESULT_OPEN_FAILED, Operation::CREATE, error, newPath));
    if (!createInPlace(*temp)) {
        platform::deleteFile(*temp);
        return false;
    }
    path = newPath;
    stagedPath = *temp;
    return true;
}

bool GrfArchive::createInPlace(const std::u16string& newPath) {
    close();
    lastError = file.open(newPath, platform::ExclusiveFile::Mode::CREATE);
    if (lastError != 0 || !file.isOpen()) {
        const bool held = file.heldByOther();
        file.close();
        return fail(systemFailure(lastError, Operation::CREATE, lastError, newPath, held));
    }
    const auto header = GrfHeader::empty().serialize();
    if (!file.write(header.data(), header.size()) || !file.flushToDisk()) {
        // Not a usable archive without its header.
        failIo(RESULT_OPEN_FAILED, Operation::WRITE, file, newPath);
        file.close();
        return false;
    }
    openedVersion = 0;
    modified = false;
    path = newPath;
    stagedPath.clear();
    return true;
}

bool GrfArchive::commitStaged() {
    if (stagedPath.empty()) return true;
    // Windows moves no file that is open; the lock is taken again right after.
    if (!file.close()) return failIo(RESULT_BAD_LENGTH, Operation::CLOSE, file, stagedPath);
    int renameError = 0;
    const bool placed = platform::replaceFile(stagedPath, path, &renameError);
    // Not placed: the archive goes on in its temporary file, still staged.
    const std::u16string current = placed ? path : stagedPath;
    if (placed) stagedPath.clear();
    if (const int openError = file.open(current, platform::ExclusiveFile::Mode::UPDATE); openError != 0) {
        return fail(systemFailure(RESULT_OPEN_FAILED, Operation::OPEN, openError, current, file.heldByOther()));
    }
    if (!placed) return fail(systemFailure(RESULT_OPEN_FAILED, Operation::RENAME, renameError, path));
    return true;
}

bool GrfArchive::failIo(int code, Operation operation, const platform::ExclusiveFile& failedFile,
                        const std::u16string& subject) {
    const int systemError = failedFile.lastSystemError();
    if (systemError == 0) {
        // A read that met the end of the file early, or a call with nothing to say.
        const Cause cause = operation == Operation::READ ? Cause::READ_ERROR : Cause::WRITE_ERROR;
        return fail(ruleFailure(code, operation, cause, subject));
    }
    return fail(systemFailure(code, operation, systemError, subject));
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
        const bool held = file.heldByOther();
        file.close();
        return fail(systemFailure(lastError, Operation::OPEN, lastError, newPath, held));
    }
    if (!readTable()) {
        lastReason.subject = newPath;
        if (lastReason.operation == Operation::NONE) lastReason.operation = Operation::OPEN;
        return false;
    }
    stagedPath.clear();
    modified = false;
    path = newPath;
    return true;
}

void GrfArchive::close() {
    if (file.isOpen()) {
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
    if (!stagedPath.empty()) {
        // Never completed by a save: nothing of it belongs under the user's name.
        platform::deleteFile(stagedPath);
        stagedPath.clear();
    }
}

GrfEntry* GrfArchive::entryAt(int64_t position) const {
    if (position < 0 || uint64_t(position) >= entries.size()) return nullptr;
    return entries[size_t(position)].get();
}
