#include "archive/model/archive.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "archive/format/file_table.h"
#include "archive/format/header.h"
#include "archive/model/staging.h"
#include "archive/base/result_codes.h"
#include "platform/disk_ops.h"

GrfArchive::~GrfArchive() {
    close();
    // Entries of an archive that never had a file (or lost it) still hold their references.
    std::unique_lock lock(listLock);
    storedIndex.clear();
    addedIndex.clear();
    entries.clear();
    addedEntries.clear();
}

Outcome GrfArchive::create(const std::u16string& newPath) {
    close();
    // Built beside its final place and moved there by the first save that completes, so an
    // interrupted or failed creation never leaves a half-written archive under the user's name.
    int error = 0;
    const auto temp = createStagingFile(newPath, &error);
    if (!temp) return fail(systemFailure(RESULT_OPEN_FAILED, Operation::CREATE, error, newPath));
    if (Outcome created = createInPlace(*temp); !created) {
        platform::deleteFile(*temp);
        return created;
    }
    path = newPath;
    stagedPath = *temp;
    return {};
}

Outcome GrfArchive::createInPlace(const std::u16string& newPath) {
    close();
    const int openError = file.open(newPath, platform::ExclusiveFile::Mode::CREATE);
    if (openError != 0 || !file.isOpen()) {
        const bool held = file.heldByOther();
        file.close();
        return fail(systemFailure(RESULT_OPEN_FAILED, Operation::CREATE, openError, newPath, held));
    }
    const auto header = GrfHeader::empty().serialize();
    if (!file.write(header.data(), header.size()) || !file.flushToDisk()) {
        // Not a usable archive without its header.
        Outcome failed = failIo(RESULT_OPEN_FAILED, Operation::WRITE, file, newPath);
        file.close();
        return failed;
    }
    openedVersion = 0;
    modified = false;
    path = newPath;
    stagedPath.clear();
    return {};
}

Outcome GrfArchive::commitStaged() {
    if (stagedPath.empty()) return {};
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
    return {};
}

Outcome GrfArchive::failIo(int code, Operation operation, const platform::ExclusiveFile& failedFile,
                        const std::u16string& subject) {
    return fail(fileFailure(code, operation, failedFile.lastSystemError(), subject));
}

namespace {

// Below this many records, starting threads costs more than making the entries on one.
constexpr size_t PARALLEL_ENTRIES_MIN = 16384;
constexpr size_t ENTRIES_PER_CHUNK = 1024;

}  // namespace

void GrfArchive::makeStoredEntries(std::vector<EntryRecord>& records) {
    // Each entry decodes its name twice and allocates four times: for a table of hundreds of
    // thousands of records, most of what opening costs. The cores take the records in chunks as
    // they come free: a thread's first allocations, in a heap of its own that grows page by
    // page, are several times slower than this thread's, so equal shares would leave this one
    // waiting.
    std::atomic<size_t> nextChunk = 0;
    std::atomic<bool> outOfMemory = false;
    const auto makeChunks = [&] {
        while (!outOfMemory) {
            const size_t begin = nextChunk.fetch_add(ENTRIES_PER_CHUNK);
            if (begin >= records.size()) return;
            const size_t end = std::min(records.size(), begin + ENTRIES_PER_CHUNK);
            for (size_t i = begin; i < end; ++i) {
                entries[i] = std::make_unique<GrfEntry>(this, std::move(records[i]), ENTRY_STORED);
            }
        }
    };
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t threads = std::min(cores, records.size() / (PARALLEL_ENTRIES_MIN / 2));
    const size_t helperCount = threads > 1 ? threads - 1 : 0;
    std::vector<std::thread> helpers;
    helpers.reserve(helperCount);
    for (size_t i = 0; i < helperCount; ++i) {
        try {
            helpers.emplace_back([&makeChunks, &outOfMemory] {
                try {
                    makeChunks();
                } catch (const std::bad_alloc&) {
                    outOfMemory = true;
                }
            });
        } catch (const std::system_error&) {
            break;   // no thread to be had: this one makes the rest
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
            break;
        }
    }
    std::exception_ptr failure;
    try {
        makeChunks();
    } catch (...) {
        failure = std::current_exception();
        outOfMemory = true;   // the helpers stop too
    }
    for (std::thread& helper : helpers) helper.join();
    if (failure) std::rethrow_exception(failure);
    if (outOfMemory) throw std::bad_alloc();
}

Outcome GrfArchive::readTable() {
    FileTable table;
    if (Outcome read = readFileTable(file, path, table); !read) {
        // Every failure leaves no entries and no file.
        storedIndex.clear();
        entries.clear();
        file.close();
        return fail(std::move(read).takeReason());
    }
    openedVersion = table.majorVersion;
    storedIndex.clear();
    entries.clear();
    entries.resize(table.records.size());
    makeStoredEntries(table.records);
    table.records = {};
    std::vector<GrfEntry*> indexed;
    indexed.reserve(entries.size());
    for (const auto& entry : entries) indexed.push_back(entry.get());
    storedIndex.assign(indexed);
    return {};
}

void GrfArchive::sortStoredByPosition() {
    // The window's list reads `entries` meanwhile; it must not see a half-sorted vector.
    const std::unique_lock lock(listLock);
    const auto byOffset = [](const auto& a, const auto& b) { return a->offset() < b->offset(); };
    std::stable_sort(entries.begin(), entries.end(), byOffset);
}

Outcome GrfArchive::open(const std::u16string& newPath) {
    return openAs(newPath, platform::ExclusiveFile::Mode::UPDATE);
}

Outcome GrfArchive::openForReading(const std::u16string& newPath) {
    return openAs(newPath, platform::ExclusiveFile::Mode::READ);
}

// A table of hundreds of thousands of records makes as many allocations; the one that fails is
// "out of memory", not the end of the window that opened the file. The reason holds no text, so
// making it allocates nothing.
Outcome GrfArchive::openAs(const std::u16string& newPath, platform::ExclusiveFile::Mode mode) {
    try {
        return openUnguarded(newPath, mode);
    } catch (const std::bad_alloc&) {
        storedIndex.clear();
        entries.clear();
        file.close();
        return fail(memoryFailure(RESULT_BAD_DATA, Operation::OPEN));
    }
}

Outcome GrfArchive::openUnguarded(const std::u16string& newPath, platform::ExclusiveFile::Mode mode) {
    close();
    const int openError = file.open(newPath, mode);
    if (openError != 0 || !file.isOpen()) {
        const bool held = file.heldByOther();
        file.close();
        // The system's number is the code too: the window shows no text of its own for it.
        return fail(systemFailure(openError, Operation::OPEN, openError, newPath, held));
    }
    if (Outcome read = readTable(); !read) {
        FailureReason reason = std::move(read).takeReason();
        reason.subject = newPath;
        reason.subjectIsEntry = false;
        if (reason.operation == Operation::NONE) reason.operation = Operation::OPEN;
        return fail(std::move(reason));
    }
    stagedPath.clear();
    modified = false;
    path = newPath;
    return {};
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
