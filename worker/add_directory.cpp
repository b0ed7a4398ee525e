#include <mutex>

#include "archive/add.h"
#include "archive/archive.h"
#include "archive/entry_name.h"
#include "archive/result_codes.h"
#include "platform/code_page.h"
#include "platform/disk_ops.h"
#include "platform/dir_walk.h"
#include "worker/task_worker.h"

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

}  // namespace

// Depth-first in the file system's order: a subdirectory is walked as soon as it is listed.
void TaskWorker::addDirectoryTree(AddDirectoryArgs& args, size_t prefixLength, const std::u16string& directory) {
    GrfArchive& archive = *args.archive;
    // Nothing writes the archive while the walk runs, so its length singles out the few files
    // that could be the archive itself.
    const uint64_t archiveLength = archive.file.size();
    platform::listDirectory(directory, [&](const platform::DirItem& item) {
        // A POSIX name may hold a backslash, which would read as one more directory level.
        if (item.name.find(u'\\') != std::u16string::npos) {
            return;
        }
        const std::u16string full = joinPath(directory, item.name);
        // A longer path does not fit the system's path buffers: the save could not open the file
        // again, so it is not added at all.
        if (full.size() > MAX_NAME_LENGTH || full.size() < prefixLength) {
            reportItemFailure(ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::NAME_TOO_LONG, full));
            return;
        }
        if (item.isDirectory) {
            addDirectoryTree(args, prefixLength, full);
            return;
        }

        // The archive's own file: the save, which holds it, could not read it, and every save
        // would fail.
        if (item.size == archiveLength && platform::sameFile(full, archive.path)) {
            return;
        }

        const std::u16string wideName = u"data\\" + full.substr(prefixLength);
        reportStatus(wideName.c_str());
        // A name that does not survive the code page, or outgrows the table's 259 bytes, would be
        // stored as some other name: such a file is left out, said so, and the walk goes on.
        const bool korean = args.useKoreanNames != 0;
        const auto name = encodeEntryName(wideName, korean);
        if (!name) {
            const uint32_t codePage = korean ? platform::CODE_PAGE_KOREAN : platform::ansiCodePage();
            // Bytes that are not UTF-8 have no characters for any code page to hold.
            FailureReason reason =
                platform::isUndecodedName(wideName)
                    ? ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::NAME_NOT_UTF8, wideName)
                : fitsPieceByPiece(wideName, codePage)
                    ? ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::NAME_TOO_LONG, wideName)
                    : ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::NAME_NOT_ENCODABLE, wideName, codePage);
            reason.subjectIsEntry = true;
            reportItemFailure(reason);
            return;
        }
        // Sizes and positions in the format are 32-bit: a larger file cannot be stored at all.
        if (item.size > UINT32_MAX) {
            FailureReason reason = ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::FILE_TOO_LARGE, wideName);
            reason.subjectIsEntry = true;
            reportItemFailure(reason);
            return;
        }
        archive.addFile(*name, full, static_cast<uint32_t>(item.size));
    });
}
