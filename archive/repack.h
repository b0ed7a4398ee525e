#pragma once
#include <cstdint>
#include <functional>

class GrfArchive;
class ProgressSink;

struct RecompressResult {
    GrfArchive* archive = nullptr;  // the archive to continue with (heap-allocated, the caller's)
    int32_t error = 0;              // 0, or why the archive was not rewritten
};

// Rewrites the stored entries of `oldArchive` (heap-allocated; its pending changes are dropped)
// at `level` into a temporary file beside it, then puts that file in its place.
// `announceTotal` gets the bytes to compress before the first progress report.
// Unless the temporary archive cannot even be created (then `oldArchive` comes back untouched),
// `oldArchive` is destroyed and the result is a fresh archive opened on the same path: the
// rewritten one, or the old file as it was when the rewrite failed.
RecompressResult recompressArchive(GrfArchive* oldArchive, int level, bool useKoreanNames, ProgressSink& progress,
                                   const std::function<void(uint64_t total)>& announceTotal);
