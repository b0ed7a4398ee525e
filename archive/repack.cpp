#include "archive/repack.h"

#include <memory>
#include <string>

#include "archive/archive.h"
#include "archive/result_codes.h"
#include "platform/disk_ops.h"
#include "platform/temp_file.h"

namespace {

std::u16string directoryOf(const std::u16string& path) {
    const size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

// The archive on `path` as the caller will continue with it; a failed open leaves it without a
// file, and its code in `error` when nothing worse is reported already.
GrfArchive* reopen(const std::u16string& path, int32_t& error) {
    auto* archive = new GrfArchive;
    if (!archive->open(path) && error == 0) {
        error = archive->lastError != 0 ? archive->lastError : RESULT_OPEN_FAILED;
    }
    return archive;
}

}  // namespace

RecompressResult recompressArchive(GrfArchive* oldArchive, int level, bool useKoreanNames, ProgressSink& progress,
                                   const std::function<void(uint64_t total)>& announceTotal) {
    const std::u16string path = oldArchive->path;
    RecompressResult result;

    const auto tempPath = platform::createTempFile(directoryOf(path), u"grf");
    if (!tempPath) {
        return {oldArchive, RESULT_OPEN_FAILED};
    }
    auto temp = std::make_unique<GrfArchive>();
    if (!temp->create(*tempPath)) {
        platform::deleteFile(*tempPath);
        return {oldArchive, temp->lastError != 0 ? temp->lastError : RESULT_OPEN_FAILED};
    }

    // Our own reference keeps the old archive alive through the imports and makes its release
    // below the last one, also when it has no stored entries for others to hold it by.
    GrfArchive::addSourceRef(oldArchive);
    // Every stored entry, deletion marks included: the repack drops all unsaved changes.
    for (size_t i = 0; i < oldArchive->entries.size(); ++i) {
        temp->importEntry(oldArchive->entryAt(int64_t(i)));
    }
    uint64_t total = 0;
    for (const auto& entry : temp->addedEntries) {
        total += entry->originalSize;
    }
    announceTotal(total);

    const bool saved = temp->save(level, useKoreanNames, progress);
    result.error = saved ? 0 : temp->lastError;
    if (!saved && result.error == 0) {
        result.error = RESULT_BAD_DATA;
    }
    // Closed before anything touches the path: the old archive goes with the last entry that
    // borrowed from it, and only then is its file free to be replaced or reopened.
    temp->close();
    temp.reset();
    GrfArchive::releaseSourceRef(oldArchive);

    if (saved && !platform::replaceFile(*tempPath, path)) {
        result.error = RESULT_OPEN_FAILED;
    }
    if (result.error != 0) {
        platform::deleteFile(*tempPath);
    }
    result.archive = reopen(path, result.error);
    return result;
}
