#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "archive/failure_reason.h"

class GrfArchive;
class ProgressSink;

struct RecompressResult {
    std::unique_ptr<GrfArchive> archive;  // the archive to continue with
    int32_t error = 0;              // 0, or why the archive was not rewritten
    // The rewritten file took the archive's place but could not be opened again: a success
    // all the same, and `archive` has no file. Its code, or 0.
    int32_t reopenError = 0;
    FailureReason reason;           // the whole story of `error` or `reopenError`
};

// Rewrites the stored entries of `oldArchive` (its pending changes are dropped)
// at `level` into a temporary file beside it ("NAME.grf.XXXX.tmp"), then puts that file in its
// place. Of several records of one name only the one a look-up finds is kept; each other is told
// to `progress` as an item left out (SHADOWED_RECORD). Leftovers of interrupted repacks that no
// program holds are removed first.
// `announceTotal` gets the bytes to compress before the first progress report.
// Unless the temporary archive cannot even be created (then `oldArchive` comes back untouched),
// `oldArchive` is destroyed and the result is a fresh archive opened on the same path: the
// rewritten one, or the old file as it was when the rewrite failed.
RecompressResult recompressArchive(std::unique_ptr<GrfArchive> oldArchive, int level, bool useKoreanNames, ProgressSink& progress,
                                   const std::function<void(uint64_t total)>& announceTotal);
