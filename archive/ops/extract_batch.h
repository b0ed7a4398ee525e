#pragma once
#include <string>
#include <vector>

class GrfEntry;
class ProgressSink;

// extractIntoDirectory for each of `selection` in list order: the same statuses, files and
// per-entry lastError codes, while `threads` pool threads inflate the next entries. A failed entry
// does not stop the others. 0 or 1 thread extracts each entry in turn on the calling thread.
void extractEntries(const std::vector<GrfEntry*>& selection, const std::u16string& targetDir, bool keepDirs,
                    bool useKoreanNames, ProgressSink& progress, unsigned threads);

// Inflates each of `selection` in memory as extractEntries does and writes nothing: the same
// statuses, progress and per-entry lastError codes (an unsafe name is no damage here).
void checkEntries(const std::vector<GrfEntry*>& selection, bool useKoreanNames, ProgressSink& progress,
                  unsigned threads);
