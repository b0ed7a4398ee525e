#include <algorithm>
#include <atomic>
#include <new>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive/model/archive.h"
#include "archive/format/entry_name.h"
#include "archive/base/result_codes.h"
#include "archive/ops/work_pool.h"
#include "platform/code_page.h"
#include "platform/disk_ops.h"
#include "platform/dir_walk.h"
#include "platform/input_file.h"
#include "platform/name_limit.h"
#include "worker/add_directory.h"

namespace {

std::u16string joinPath(const std::u16string& directory, const std::u16string& name) {
    if (!directory.empty() && directory.back() == u'\\') {
        return directory + name;
    }
    return directory + u'\\' + name;
}

// True when every component of `name` has a form in `codePage`: then only the whole is too long.
bool fitsPieceByPiece(const std::u16string& name, uint32_t codePage) {
    size_t start = 0;
    for (;;) {
        const size_t end = name.find(u'\\', start);
        const std::u16string_view piece = std::u16string_view(name).substr(start, end - start);
        if (!piece.empty() && !platform::encodeText(piece, codePage)) return false;
        if (end == std::u16string::npos) return true;
        start = end + 1;
    }
}

FailureReason entryFailure(Cause cause, const std::u16string& entryName, uint32_t value = 0) {
    FailureReason reason = ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, cause, entryName, value);
    reason.subjectIsEntry = true;
    return reason;
}

struct ListedFolder;

// One add's walk: what it carries from folder to folder.
struct TreeWalk {
    ProgressSink& progress;
    const AddDirectoryArgs& args;
    size_t prefixLength;
    // Nothing writes the archive while the walk runs, so its length singles out the few files
    // that could be the archive itself.
    uint64_t archiveLength;
    // The folders from the chosen one down to the one being listed: a link to any of them would
    // have the walk go round without end.
    std::vector<platform::FileIdentity> ancestors;
    // The entries this add has made or updated. The archive keeps one entry per name (ASCII case
    // aside), so a second file under a name would silently replace the first.
    std::unordered_set<const GrfEntry*> takenEntries;
    // Where a folder's files are opened and their names encoded, a core each.
    WorkPool& pool;
    // Folders listed before their turn, their files being judged meanwhile, by path; and how many
    // files they hold together.
    std::unordered_map<std::u16string, std::unique_ptr<ListedFolder>> listedAhead;
    size_t filesAhead = 0;
    // What the files read at once hold together, held until the save stores them.
    std::atomic<uint64_t> bytesRead{0};
};

void walkDirectory(TreeWalk& walk, const std::u16string& directory);
void dropListed(TreeWalk& walk, const std::u16string& directory);

// A folder that is walked no further, named with a closing separator so that it reads as a folder.
void reportFolder(TreeWalk& walk, FailureReason reason) {
    if (reason.subject.empty() || reason.subject.back() != u'\\') reason.subject += u'\\';
    walk.progress.reportItemFailure(reason);
}

// Walks `directory` unless it is one of the folders being walked already.
void enterDirectory(TreeWalk& walk, const std::u16string& directory) {
    platform::FileIdentity identity;
    if (const int error = platform::identifyFile(directory, identity); error != 0) {
        dropListed(walk, directory);
        reportFolder(walk, systemFailure(RESULT_OPEN_FAILED, Operation::OPEN, error, directory));
        return;
    }
    if (std::find(walk.ancestors.begin(), walk.ancestors.end(), identity) != walk.ancestors.end()) {
        dropListed(walk, directory);
        walk.progress.reportItemFailure(ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::LINK_LOOP, directory));
        return;
    }
    walk.ancestors.push_back(identity);
    walkDirectory(walk, directory);
    walk.ancestors.pop_back();
}

// What a file of a folder comes to before the walk takes it up in its turn: the work that
// touches no state of the walk, done for a whole folder at once on the pool's threads.
struct FileVerdict {
    std::u16string* full = nullptr;   // the folder's path of the file, taken by its entry
    std::u16string wideName;
    uint64_t size = 0;
    // The archive's own file: the save, which holds it, could not read it, and every save would fail.
    bool isArchive = false;
    std::optional<std::string> name;
    FailureReason refusal;
    // The file's bytes when read at once, else null.
    std::unique_ptr<uint8_t[]> bytes;
};

// Files up to this size are read at once when the save follows, up to this much for the whole
// add: the rest are read by the save as ever. A file's bytes held until the save take memory of
// their own, where the save would have read them into memory used again; past a few KiB, the
// pages that costs outweigh the open it saves.
constexpr uint64_t READ_NOW_FILE_BYTES = 8 << 10;
constexpr uint64_t READ_NOW_TOTAL_BYTES = 256ull << 20;

// Reads the file the verdict was given on, when it is small and room is left. A read that fails
// or comes short leaves the file to the save, which reports what it finds then.
void readFileNow(TreeWalk& walk, platform::InputFile& file, FileVerdict& verdict) {
    // A file that changed its length since it was listed is the save's, which takes it whole.
    if (!walk.args.readSmallFilesNow || verdict.size > READ_NOW_FILE_BYTES || file.size() != verdict.size) return;
    if (walk.bytesRead.fetch_add(verdict.size) + verdict.size > READ_NOW_TOTAL_BYTES) {
        walk.bytesRead.fetch_sub(verdict.size);
        return;
    }
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[verdict.size]);
    if (bytes && file.readAt(0, bytes.get(), size_t(verdict.size)) == verdict.size) {
        verdict.bytes = std::move(bytes);
    } else {
        walk.bytesRead.fetch_sub(verdict.size);
    }
}

// The entry name a file below the chosen folder takes, in its wide form.
std::u16string wideNameOf(const TreeWalk& walk, const std::u16string& full) {
    const std::u16string_view below = std::u16string_view(full).substr(walk.prefixLength);
    std::u16string name;
    name.reserve(5 + below.size());
    return name.append(u"data\\").append(below);
}

void judgeFile(TreeWalk& walk, FileVerdict& verdict) {
    const GrfArchive& archive = *walk.args.archive;
    // Unless this open reads it, the save opens the file again much later, and a file it cannot
    // open fails the whole save: one unreadable file would cost every other one. Opened here as
    // the save would, it is left out on its own instead. The open measures what the listing left
    // unmeasured.
    platform::InputFile probe;
    const int openError = probe.open(*verdict.full);
    if (openError == 0 && verdict.size == platform::UNMEASURED) verdict.size = probe.size();
    // The archive's own file, which the save holds (and so the open may find held).
    if ((openError != 0 || verdict.size == walk.archiveLength) && platform::sameFile(*verdict.full, archive.path)) {
        verdict.isArchive = true;
        return;
    }
    verdict.wideName = wideNameOf(walk, *verdict.full);
    // A name that does not survive the code page, or outgrows the table's 259 bytes, would be
    // stored as some other name: such a file is left out, said so, and the walk goes on.
    const bool korean = walk.args.useKoreanNames != 0;
    verdict.name = encodeEntryName(verdict.wideName, korean);
    if (!verdict.name) {
        const uint32_t codePage = korean ? platform::CODE_PAGE_KOREAN : platform::ansiCodePage();
        // Bytes that are not UTF-8 have no characters for any code page to hold.
        verdict.refusal = platform::isUndecodedName(verdict.wideName) ? entryFailure(Cause::NAME_NOT_UTF8, verdict.wideName)
                          : fitsPieceByPiece(verdict.wideName, codePage)
                              ? entryFailure(Cause::NAME_TOO_LONG, verdict.wideName)
                              : entryFailure(Cause::NAME_NOT_ENCODABLE, verdict.wideName, codePage);
        return;
    }
    // Sizes and positions in the format are 32-bit: a larger file cannot be stored at all.
    if (verdict.size != platform::UNMEASURED && verdict.size > UINT32_MAX) {
        verdict.refusal = entryFailure(Cause::FILE_TOO_LARGE, verdict.wideName);
    } else if (openError != 0) {
        verdict.refusal = systemFailure(RESULT_OPEN_FAILED, Operation::OPEN, openError, *verdict.full, probe.heldByOther());
    } else {
        readFileNow(walk, probe, verdict);
    }
}

// Files of one folder judged on a pool thread.
class JudgeJob : public WorkItem {
public:
    JudgeJob(TreeWalk& walk, std::span<FileVerdict> verdicts) : walk(walk), verdicts(verdicts) {}
    void run() override {
        for (FileVerdict& verdict : verdicts) judgeFile(walk, verdict);
    }

private:
    TreeWalk& walk;
    std::span<FileVerdict> verdicts;
};

// Files per pool job: enough that handing a job over costs little beside opening its files.
constexpr size_t JUDGE_GROUP_FILES = 32;

// A folder listed, its files handed to the pool to be judged: what walking it needs. Going, it
// waits for its jobs, which hold its verdicts.
struct ListedFolder {
    explicit ListedFolder(WorkPool& pool) : pool(pool) {}
    ListedFolder(const ListedFolder&) = delete;
    ListedFolder& operator=(const ListedFolder&) = delete;
    ~ListedFolder() {
        for (auto& job : jobs) pool.wait(*job);
    }

    WorkPool& pool;
    std::vector<platform::DirItem> items;
    std::vector<std::u16string> fullPaths;
    std::vector<FileVerdict> verdicts;
    std::vector<std::unique_ptr<JudgeJob>> jobs;
    int listed = 0;     // the listing's error, when it broke off
    size_t aheadFrom = 0;   // the first item not yet considered for listing ahead
};

// Lists `directory` and hands its files to the pool, in groups.
std::unique_ptr<ListedFolder> listFolder(TreeWalk& walk, const std::u16string& directory) {
    auto folder = std::make_unique<ListedFolder>(walk.pool);
    folder->listed = platform::listDirectory(
        directory, [&](platform::DirItem& item) { folder->items.push_back(std::move(item)); }, platform::Sizes::WHEN_FREE);
    const std::vector<platform::DirItem>& items = folder->items;
    folder->fullPaths.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        folder->fullPaths[i] = joinPath(directory, items[i].name);
        if (items[i].kind == platform::ItemKind::FILE && items[i].name.find(u'\\') == std::u16string::npos &&
            platform::fitsDiskPath(folder->fullPaths[i])) {
            FileVerdict& verdict = folder->verdicts.emplace_back();
            verdict.full = &folder->fullPaths[i];
            verdict.size = items[i].size;
        }
    }
    std::vector<FileVerdict>& verdicts = folder->verdicts;
    for (size_t at = 0; at < verdicts.size(); at += JUDGE_GROUP_FILES) {
        const size_t count = std::min(JUDGE_GROUP_FILES, verdicts.size() - at);
        folder->jobs.push_back(std::make_unique<JudgeJob>(walk, std::span<FileVerdict>(verdicts).subspan(at, count)));
        walk.pool.submit(*folder->jobs.back());
    }
    return folder;
}

// Every file of `folder` judged. A job that threw is judged again here, where what it throws
// reaches the task's boundary.
void awaitJudges(ListedFolder& folder) {
    for (auto& job : folder.jobs) {
        folder.pool.wait(*job);
        if (job->thrown != Cause::NONE) job->run();
    }
}

// Files listed ahead at most: enough to keep the pool judging while this thread takes up a
// folder's files, few enough that their verdicts take little memory.
constexpr size_t FILES_LISTED_AHEAD = 4096;

// Lists the subfolders of `folder` from item `from` on, as far as the files listed ahead allow,
// so that their files are judged while this thread takes up the files before them. Each item is
// considered once: a folder may hold thousands of subfolders.
void listAhead(TreeWalk& walk, ListedFolder& folder, size_t from) {
    folder.aheadFrom = std::max(folder.aheadFrom, from);
    for (; folder.aheadFrom < folder.items.size() && walk.filesAhead < FILES_LISTED_AHEAD; ++folder.aheadFrom) {
        const size_t i = folder.aheadFrom;
        const platform::DirItem& item = folder.items[i];
        const std::u16string& full = folder.fullPaths[i];
        if ((item.kind != platform::ItemKind::DIRECTORY && item.kind != platform::ItemKind::LINKED_DIRECTORY) ||
            item.name.find(u'\\') != std::u16string::npos || !platform::fitsDiskPath(full) ||
            walk.listedAhead.count(full) != 0) {
            continue;
        }
        std::unique_ptr<ListedFolder> listed = listFolder(walk, full);
        walk.filesAhead += listed->verdicts.size();
        walk.listedAhead.emplace(full, std::move(listed));
    }
}

// `directory` as listed ahead (no longer counted as ahead), or nothing.
std::unique_ptr<ListedFolder> takeListedAhead(TreeWalk& walk, const std::u16string& directory) {
    const auto found = walk.listedAhead.find(directory);
    if (found == walk.listedAhead.end()) return nullptr;
    std::unique_ptr<ListedFolder> folder = std::move(found->second);
    walk.listedAhead.erase(found);
    walk.filesAhead -= folder->verdicts.size();
    return folder;
}

// A folder listed ahead that is not walked after all (a link back up the tree).
void dropListed(TreeWalk& walk, const std::u16string& directory) {
    takeListedAhead(walk, directory);
}

// The file in its turn: named in the status, told as left out, or added.
void takeFile(TreeWalk& walk, FileVerdict& verdict) {
    if (verdict.isArchive) {
        return;
    }
    if (walk.progress.wantsStatus()) walk.progress.reportStatus(verdict.wideName.c_str());
    if (verdict.refusal.failed()) {
        walk.progress.reportItemFailure(verdict.refusal);
        return;
    }
    // A namesake from before this add is an update and replaces the old entry; one from this
    // very add is another file that would vanish behind the first.
    GrfArchive& archive = *walk.args.archive;
    if (const GrfEntry* namesake = archive.findAdded(*verdict.name); namesake != nullptr && walk.takenEntries.count(namesake) != 0) {
        FailureReason reason = entryFailure(Cause::NAME_CASE_COLLISION, verdict.wideName);
        reason.otherName = wideNameOf(walk, namesake->sourcePath());
        walk.progress.reportItemFailure(reason);
        return;
    }
    const GrfEntry* entry = archive.addFile(*verdict.name, std::move(*verdict.full), static_cast<uint32_t>(verdict.size),
                                            std::move(verdict.bytes));
    walk.takenEntries.insert(entry);
}

// Depth-first in the file system's order: a subdirectory is walked in its turn among the items
// of its folder. The folder's files are judged on the pool first, and the files of the folders
// after them meanwhile; what is told comes in listing order.
void walkDirectory(TreeWalk& walk, const std::u16string& directory) {
    std::unique_ptr<ListedFolder> folder = takeListedAhead(walk, directory);
    if (!folder) folder = listFolder(walk, directory);
    listAhead(walk, *folder, 0);
    awaitJudges(*folder);
    const std::vector<platform::DirItem>& items = folder->items;
    std::vector<FileVerdict>& verdicts = folder->verdicts;
    size_t nextVerdict = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const platform::DirItem& item = items[i];
        const std::u16string& full = folder->fullPaths[i];
        // A POSIX name may hold a backslash, which would read as one more directory level.
        if (item.name.find(u'\\') != std::u16string::npos) {
            FailureReason reason = ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::NAME_HAS_BACKSLASH, full);
            reason.otherName = item.name;
            walk.progress.reportItemFailure(reason);
            continue;
        }
        // The system could not open the file again at save time; nor list the folder now.
        if (!platform::fitsDiskPath(full)) {
            walk.progress.reportItemFailure(ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::PATH_TOO_LONG, full));
            continue;
        }
        switch (item.kind) {
        case platform::ItemKind::FILE: takeFile(walk, verdicts[nextVerdict++]); break;
        // A link to a folder elsewhere is followed, as a link to a file is; one back up the tree
        // is refused by enterDirectory.
        case platform::ItemKind::DIRECTORY:
        case platform::ItemKind::LINKED_DIRECTORY:
            listAhead(walk, *folder, i + 1);
            enterDirectory(walk, full);
            break;
        case platform::ItemKind::NOT_REGULAR:
            walk.progress.reportItemFailure(
                ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::NOT_REGULAR_FILE, full));
            break;
        case platform::ItemKind::UNREACHABLE:
            walk.progress.reportItemFailure(systemFailure(RESULT_OPEN_FAILED, Operation::OPEN, item.systemError, full));
            break;
        }
    }
    // Whatever the folder still held is left out, the folder named for all of it.
    if (folder->listed != 0) {
        reportFolder(walk, systemFailure(RESULT_OPEN_FAILED, Operation::READ, folder->listed, directory));
    }
}

}  // namespace

void addDirectoryTree(const AddDirectoryArgs& args, size_t prefixLength, const std::u16string& directory,
                      ProgressSink& progress) {
    WorkPool pool(WorkPool::defaultThreads());
    TreeWalk walk{progress, args, prefixLength, args.archive->file.size(), {}, {}, pool, {}, 0};
    enterDirectory(walk, directory);
}
