#pragma once
#include <string>
#include <vector>

#include "archive/base/outcome.h"

class ExtractSink;
class GrfEntry;
class ProgressSink;

// Extracts each of `selection` in list order below `targetDir` (with its directories when
// `keepDirs`), named by its Korean or ANSI form, creating the directories on the way, while
// `threads` pool threads inflate the next entries. Each entry's status, progress and failure (an
// item failure, and the archive's lastError) come in list order; a failed entry does not stop the
// others. 0 or 1 thread extracts each entry in turn on the calling thread.
void extractEntries(const std::vector<GrfEntry*>& selection, const std::u16string& targetDir, bool keepDirs,
                    bool useKoreanNames, ProgressSink& progress, unsigned threads);

// Inflates each of `selection` in memory as extractEntries does and writes nothing: the same
// statuses, progress and per-entry lastError codes (an unsafe name is no damage here).
void checkEntries(const std::vector<GrfEntry*>& selection, bool useKoreanNames, ProgressSink& progress,
                  unsigned threads);

// Extracts `entry` alone into `sink` (a file the user named, standard output, memory): a batch of
// one on the calling thread, with its checks, progress and lastError. The caller's status stays,
// and the entry's failure is the answer (naming the file written where it was the file's).
Outcome extractEntry(GrfEntry& entry, ExtractSink& sink, ProgressSink& progress);
// extractEntry into a file at `path`.
Outcome extractEntry(GrfEntry& entry, const std::u16string& path, ProgressSink& progress);
