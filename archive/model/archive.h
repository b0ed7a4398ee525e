#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/format/entry_name.h"
#include "archive/format/entry_record.h"
#include "archive/base/failure_reason.h"
#include "archive/model/name_index.h"
#include "archive/base/outcome.h"
#include "platform/code_page.h"
#include "platform/exclusive_file.h"
#include "platform/shared_mutex.h"

class GrfArchive;

enum EntryState : int32_t { ENTRY_STORED = 0, ENTRY_ADDED = 1, ENTRY_DELETED = 2 };
enum EntrySource : int32_t { SOURCE_ARCHIVE = 0, SOURCE_DISK_FILE = 1, SOURCE_OTHER_ENTRY = 2 };
// What a rename did: renamed (or kept its own name), or why it refused.
enum class RenameResult { RENAMED, INVALID_NAME, NAME_TAKEN };
// How a save stores an imported entry: inflated and compressed again at the save's level (a merge
// takes the level the user chose), or its zlib stream copied as it is stored (a patch carries the
// other archive's data unchanged, and compressing them again would only cost time).
enum class ImportedStream : uint8_t { RECOMPRESS, COPY };

// One entry of an archive's table, stored or added since the archive was opened.
class GrfEntry {
public:
    // A stored entry is what a table read makes; tests and benchmarks build one in memory too.
    explicit GrfEntry(GrfArchive* owner, EntryState state = ENTRY_ADDED) : ownerArchive(owner), entryState(state) {}
    // An entry of `record`'s name and fields.
    GrfEntry(GrfArchive* owner, EntryRecord record, EntryState state);
    GrfEntry(const GrfEntry&) = delete;
    GrfEntry& operator=(const GrfEntry&) = delete;
    ~GrfEntry();

    // The fields of the entry's record. Read freely; written before the archive lists the entry,
    // and afterwards only through placeData and setOriginalSize, which take the owner's listLock
    // (the window's list reads them on its own thread).
    uint32_t compressedSize() const { return fields.compressedSize; }
    uint32_t storedSize() const { return fields.storedSize; }
    uint32_t originalSize() const { return fields.originalSize; }
    uint64_t offset() const { return fields.offset; }   // absolute position of the data
    int32_t coding() const { return fields.coding; }    // -1 none, 0 header-only, n > 0 mixed
    uint8_t flags() const { return fields.flags; }

    // Where a save put the entry's zlib stream of `inputLength` plain bytes.
    void placeData(uint32_t inputLength, uint32_t streamLength, uint64_t position);
    // The plain size an inflation found, which the table may have named wrongly.
    void setOriginalSize(uint32_t length);

    // Bytes as in the table, backslash-separated.
    const std::string& name() const { return fields.name; }
    // Both follow the name (setName, rename): the index key and the two wide forms, each empty
    // when the name does not convert. The wide forms are decoded when first asked for, by any
    // thread: a check or an extraction of a whole archive never shows most of them.
    uint64_t key() const { return nameKeyValue; }
    const std::u16string& nameAnsi() const { return wideName(ansiForm, ansiCodePage); }   // ANSI code page
    const std::u16string& nameKorean() const { return wideName(koreanForm, platform::CODE_PAGE_KOREAN); }   // 949
    // The archive whose table holds the entry (not owned).
    GrfArchive* owner() const { return ownerArchive; }
    int32_t state() const { return entryState; }
    // Where a save takes the data from; set by the archive's addFile and importEntry only.
    int32_t source() const { return sourceKind; }
    const std::u16string& sourcePath() const { return sourceFile; }   // with SOURCE_DISK_FILE
    // With SOURCE_DISK_FILE: the file's bytes as the add read them, for a save that follows at
    // once and need not open the file again; null when the save reads the file.
    bool holdsFileBytes() const { return heldBytes != nullptr; }
    // Hands the held bytes over (to the save that stores them); the entry reads its file again
    // if it is ever stored once more.
    std::unique_ptr<uint8_t[]> takeFileBytes() { return std::move(heldBytes); }
    // With SOURCE_OTHER_ENTRY: another archive's entry, held with that whole archive alive.
    const std::shared_ptr<const GrfEntry>& sourceEntry() const { return sourceRef; }
    ImportedStream importedStream() const { return streamUse; }

    // Sets name, then key and both wide forms; for an entry no archive lists yet (rename otherwise).
    void setName(std::string_view newName);
    const std::u16string& displayName(bool useKoreanNames) const {
        return useKoreanNames ? nameKorean() : nameAnsi();
    }

    // The entry's record as it stands; a save writes a table of them without copying each name.
    const EntryRecord& record() const { return fields; }

    // Refuses a name a table cannot hold and one another entry of either list bears (ASCII case
    // folded); takes the owner's listLock.
    RenameResult rename(std::string_view newName);

private:
    friend class GrfArchive;   // the archive's edits set state and source together with its lists

    using WideForm = std::atomic<const std::u16string*>;
    const std::u16string& wideName(WideForm& form, uint32_t codePage) const {
        const std::u16string* name = form.load(std::memory_order_acquire);
        return name != nullptr ? *name : decodeName(form, codePage);
    }
    // Decodes the name into `form` and keeps it there, unless another thread got there first.
    const std::u16string& decodeName(WideForm& form, uint32_t codePage) const;
    // The key, and the wide forms forgotten, after the name changed.
    void nameChanged();
    void setSourceFile(std::string_view newName, std::u16string diskPath, uint32_t size,
                       std::unique_ptr<uint8_t[]> bytes);
    void setSourceEntry(std::shared_ptr<const GrfEntry> newSource, ImportedStream use);

    GrfArchive* const ownerArchive;
    EntryRecord fields;
    uint64_t nameKeyValue = 0;
    // The ANSI code page when the entry was named: its wide form is decoded as it was then.
    uint32_t ansiCodePage = 0;
    mutable WideForm ansiForm{nullptr};
    mutable WideForm koreanForm{nullptr};
    int32_t entryState;
    int32_t sourceKind = SOURCE_ARCHIVE;
    std::u16string sourceFile;
    std::unique_ptr<uint8_t[]> heldBytes;
    std::shared_ptr<const GrfEntry> sourceRef;
    ImportedStream streamUse = ImportedStream::RECOMPRESS;
};

// One archive file opened for update, with its entry table. An archive that lends entries to
// another is held by std::shared_ptr: each borrowing entry shares its ownership (shareEntry).
class GrfArchive {
public:
    GrfArchive() = default;
    GrfArchive(const GrfArchive&) = delete;
    GrfArchive& operator=(const GrfArchive&) = delete;
    ~GrfArchive();

    using EntryList = std::vector<std::unique_ptr<GrfEntry>>;

    std::u16string path;
    // The last failure an operation of this archive returned, kept for the window to show later.
    FailureReason lastError;
    platform::ExclusiveFile file;
    // Every edit below holds it exclusively; a thread other than the editing one (the window's
    // list while a task runs) reads the lists and names under it shared.
    mutable platform::SharedMutex listLock;

    // The stored entries in table order, and the pending ones in the order they were added.
    const EntryList& storedEntries() const { return entries; }
    const EntryList& pendingEntries() const { return addedEntries; }
    bool isModified() const { return modified; }
    const NameIndex& storedNameIndex() const { return storedIndex; }
    const NameIndex& addedNameIndex() const { return addedIndex; }

    // A new archive, built in a temporary file beside `newPath` ("NAME.grf.XXXX.tmp") that the
    // first completed save moves into place; closing it unsaved leaves nothing behind.
    Outcome create(const std::u16string& newPath);
    // A new archive written straight at `newPath` (a file the caller already made its own).
    Outcome createInPlace(const std::u16string& newPath);
    // Where a created archive lives until its first save completes; empty otherwise.
    const std::u16string& stagingPath() const { return stagedPath; }
    // Major version of the opened file; 0 after create.
    uint32_t version() const { return openedVersion; }
    // Opened for reading and saving: no one else may open the file meanwhile.
    Outcome open(const std::u16string& newPath);
    // Opened to read only (listing, extracting): others may read the file too, nobody may write
    // it, and a read-only file opens as well. Such an archive cannot be saved.
    Outcome openForReading(const std::u16string& newPath);
    Outcome readTable();
    // Fills `entries`, sized to `records` already, with an entry of each record, taking its fields.
    void makeStoredEntries(std::vector<EntryRecord>& records);
    void close();

    GrfEntry* entryAt(int64_t position) const;
    GrfEntry* findStored(std::string_view name) const { return storedIndex.find(name); }
    GrfEntry* findAdded(std::string_view name) const { return addedIndex.find(name); }

    // The edits. Each marks the archive modified.
    void markDeleted(GrfEntry& entry);
    // A pending entry for the disk file `diskPath`: every stored namesake is marked deleted, and
    // a pending namesake takes the new source instead of a second entry appearing.
    GrfEntry* addFile(std::string_view name, const std::u16string& diskPath, uint32_t size);
    // The same with the file's `size` bytes read already (see GrfEntry::holdsFileBytes).
    GrfEntry* addFile(std::string_view name, std::u16string diskPath, uint32_t size, std::unique_ptr<uint8_t[]> bytes);
    // The same for another archive's entry, whose data the pending entry will copy; the pending
    // entry keeps that archive alive (see shareEntry).
    GrfEntry* importEntry(std::shared_ptr<const GrfEntry> sourceEntry,
                          ImportedStream use = ImportedStream::RECOMPRESS);
    // Lists and indexes an entry built in memory (tests, benchmarks) by its state: stored ones
    // after the table's, others as pending. It stands for a state as read: no namesake is marked
    // deleted and the archive is not marked modified.
    GrfEntry* adoptEntry(std::unique_ptr<GrfEntry> entry);

    // For a save: the stored entries in the order of their data (stable, so entries at one
    // position keep their table order), under listLock.
    void sortStoredByPosition();
    // Moves a created archive into place after its first completed save; true when nothing waits.
    Outcome commitStaged();

    // Records a failure as lastError and answers it; call sites read `return fail(...)`.
    Outcome fail(FailureReason reason) {
        lastError = reason;
        return Outcome(std::move(reason));
    }
    // The failed call of `file` (or of another file at `subject`) as the reason, with `code`.
    Outcome failIo(int code, Operation operation, const platform::ExclusiveFile& failedFile, const std::u16string& subject);

private:
    friend class GrfEntry;   // a rename re-keys the entry in its list's index

    // Marks the stored namesakes deleted and returns the pending namesake or a fresh pending
    // entry, indexed; the caller holds listLock and sets the source.
    GrfEntry* pendingEntryFor(std::string_view name);

    std::vector<std::unique_ptr<GrfEntry>> entries;
    NameIndex storedIndex;
    std::vector<std::unique_ptr<GrfEntry>> addedEntries;
    NameIndex addedIndex;
    bool modified = false;
    uint32_t openedVersion = 0;
    std::u16string stagedPath;

    Outcome openUnguarded(const std::u16string& newPath, platform::ExclusiveFile::Mode mode);
    Outcome openAs(const std::u16string& newPath, platform::ExclusiveFile::Mode mode);
};

// `entry` of `archive` as a reference that shares the ownership of the whole archive, for
// importEntry: the archive lives as long as any entry borrowing from it.
inline std::shared_ptr<const GrfEntry> shareEntry(const std::shared_ptr<GrfArchive>& archive, const GrfEntry* entry) {
    return std::shared_ptr<const GrfEntry>(archive, entry);
}
