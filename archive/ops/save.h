#pragma once
#include "archive/base/outcome.h"
#include "archive/ops/work_pool.h"

class GrfArchive;
class ProgressSink;

// Stores every pending entry of `archive` (first fit in the gaps, else at the end), then writes the
// new table and the header that names it, then moves a created archive into place. Compresses on
// `threads` pool threads (0 or 1: each entry in turn on the calling thread); the file written is
// the same with any thread count. A failed save leaves the file with its previous table.
Outcome saveArchive(GrfArchive& archive, int level, bool useKoreanNames, ProgressSink& progress,
                    unsigned threads = WorkPool::defaultThreads());
