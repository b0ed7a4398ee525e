#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "archive/base/failure_reason.h"
#include "archive/base/outcome.h"

class GrfArchive;
class ProgressSink;

struct RecompressResult {
    std::unique_ptr<GrfArchive> archive;  // the archive to continue with
    Outcome outcome;                      // why the archive was not rewritten, if it was not
    // The archive on its path (rewritten or not) could not be opened again: `archive` has no
    // file. After a rewrite that is a success all the same.
    FailureReason reopenFailure;
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
