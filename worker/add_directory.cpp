#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "archive/ops/merge.h"
#include "archive/model/archive.h"
#include "archive/format/entry_name.h"
#include "archive/base/result_codes.h"
#include "platform/code_page.h"
#include "platform/disk_ops.h"
#include "platform/dir_walk.h"
#include "platform/exclusive_file.h"
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
    // The names this add has taken, ASCII-lowered as the archive compares them, with the name as
    // taken. The archive keeps one entry per name, so a second file under a name would silently
    // replace the first.
    std::unordered_map<std::string, std::u16string> takenNames;
};

void walkDirectory(TreeWalk& walk, const std::u16string& directory);

// A folder that is walked no further, named with a closing separator so that it reads as a folder.
void reportFolder(TreeWalk& walk, FailureReason reason) {
    if (reason.subject.empty() || reason.subject.back() != u'\\') reason.subject += u'\\';
    walk.progress.reportItemFailure(reason);
}

// Walks `directory` unless it is one of the folders being walked already.
void enterDirectory(TreeWalk& walk, const std::u16string& directory) {
    platform::FileIdentity identity;
    if (const int error = platform::identifyFile(directory, identity); error != 0) {
        reportFolder(walk, systemFailure(RESULT_OPEN_FAILED, Operation::OPEN, error, directory));
        return;
    }
    if (std::find(walk.ancestors.begin(), walk.ancestors.end(), identity) != walk.ancestors.end()) {
        walk.progress.reportItemFailure(ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::LINK_LOOP, directory));
        return;
    }
    walk.ancestors.push_back(identity);
    walkDirectory(walk, directory);
    walk.ancestors.pop_back();
}

void addOneFile(TreeWalk& walk, const std::u16string& full, uint64_t size) {
    GrfArchive& archive = *walk.args.archive;
    // The archive's own file: the save, which holds it, could not read it, and every save
    // would fail.
    if (size == walk.archiveLength && platform::sameFile(full, archive.path)) {
        return;
    }

    const std::u16string wideName = u"data\\" + full.substr(walk.prefixLength);
    walk.progress.reportStatus(wideName.c_str());
    // A name that does not survive the code page, or outgrows the table's 259 bytes, would be
    // stored as some other name: such a file is left out, said so, and the walk goes on.
    const bool korean = walk.args.useKoreanNames != 0;
    const auto name = encodeEntryName(wideName, korean);
    if (!name) {
        const uint32_t codePage = korean ? platform::CODE_PAGE_KOREAN : platform::ansiCodePage();
        // Bytes that are not UTF-8 have no characters for any code page to hold.
        walk.progress.reportItemFailure(platform::isUndecodedName(wideName) ? entryFailure(Cause::NAME_NOT_UTF8, wideName)
                                        : fitsPieceByPiece(wideName, codePage)
                                            ? entryFailure(Cause::NAME_TOO_LONG, wideName)
                                            : entryFailure(Cause::NAME_NOT_ENCODABLE, wideName, codePage));
        return;
    }
    // Sizes and positions in the format are 32-bit: a larger file cannot be stored at all.
    if (size > UINT32_MAX) {
        walk.progress.reportItemFailure(entryFailure(Cause::FILE_TOO_LARGE, wideName));
        return;
    }
    // The save opens the file again much later, and a file it cannot open fails the whole save:
    // one unreadable file would cost every other one. Opened here as the save will, it is left
    // out on its own instead.
    if (platform::ExclusiveFile probe; const int error = probe.open(full, platform::ExclusiveFile::Mode::READ)) {
        walk.progress.reportItemFailure(systemFailure(RESULT_OPEN_FAILED, Operation::OPEN, error, full, probe.heldByOther()));
        return;
    }
    // A namesake from before this add is an update and replaces the old entry; one from this
    // very add is another file that would vanish behind the first.
    std::string key = *name;
    std::transform(key.begin(), key.end(), key.begin(), [](char c) { return asciiLower(c); });
    const auto [taken, isNew] = walk.takenNames.try_emplace(std::move(key), wideName);
    if (!isNew) {
        FailureReason reason = entryFailure(Cause::NAME_CASE_COLLISION, wideName);
        reason.otherName = taken->second;
        walk.progress.reportItemFailure(reason);
        return;
    }
    archive.addFile(*name, full, static_cast<uint32_t>(size));
}

// Depth-first in the file system's order: a subdirectory is walked as soon as it is listed.
void walkDirectory(TreeWalk& walk, const std::u16string& directory) {
    const int listed = platform::listDirectory(directory, [&](const platform::DirItem& item) {
        const std::u16string full = joinPath(directory, item.name);
        // A POSIX name may hold a backslash, which would read as one more directory level.
        if (item.name.find(u'\\') != std::u16string::npos) {
            FailureReason reason = ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::NAME_HAS_BACKSLASH, full);
            reason.otherName = item.name;
            walk.progress.reportItemFailure(reason);
            return;
        }
        // The system could not open the file again at save time; nor list the folder now.
        if (!platform::fitsDiskPath(full)) {
            walk.progress.reportItemFailure(ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::PATH_TOO_LONG, full));
            return;
        }
        switch (item.kind) {
        case platform::ItemKind::FILE: addOneFile(walk, full, item.size); return;
        // A link to a folder elsewhere is followed, as a link to a file is; one back up the tree
        // is refused by enterDirectory.
        case platform::ItemKind::DIRECTORY:
        case platform::ItemKind::LINKED_DIRECTORY: enterDirectory(walk, full); return;
        case platform::ItemKind::NOT_REGULAR:
            walk.progress.reportItemFailure(
                ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::NOT_REGULAR_FILE, full));
            return;
        case platform::ItemKind::UNREACHABLE:
            walk.progress.reportItemFailure(systemFailure(RESULT_OPEN_FAILED, Operation::OPEN, item.systemError, full));
            return;
        }
    });
    // Whatever the folder still held is left out, the folder named for all of it.
    if (listed != 0) {
        reportFolder(walk, systemFailure(RESULT_OPEN_FAILED, Operation::READ, listed, directory));
    }
}

}  // namespace

void addDirectoryTree(const AddDirectoryArgs& args, size_t prefixLength, const std::u16string& directory,
                      ProgressSink& progress) {
    TreeWalk walk{progress, args, prefixLength, args.archive->file.size(), {}, {}};
    enterDirectory(walk, directory);
}
