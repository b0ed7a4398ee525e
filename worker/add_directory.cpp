#include <mutex>

#include "archive/add.h"
#include "archive/archive.h"
#include "archive/entry_name.h"
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
        // stored as some other name: such a file is left out and the walk goes on.
        const auto name = encodeEntryName(wideName, args.useKoreanNames != 0);
        if (!name) {
            return;
        }
        archive.addFile(*name, full, static_cast<uint32_t>(item.size));  // the format holds 32-bit sizes
    });
}
