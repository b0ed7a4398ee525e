#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "archive/base/outcome.h"

class GrfArchive;
class EntryFilter;
class GrfEntry;
class ProgressSink;

// How an entry differs between the old side and the new one.
enum class DiffKind : uint8_t { ADDED, REMOVED, CHANGED };

struct DiffItem {
    DiffKind kind;
    const GrfEntry* oldEntry = nullptr;  // null when ADDED
    const GrfEntry* newEntry = nullptr;  // null when REMOVED
    uint64_t oldSize = 0;                // plain bytes, as inflated when both were compared
    uint64_t newSize = 0;
};

// Compares the entries of two sides by their plain bytes. A side is an opened archive (its stored
// entries) or an archive that was never saved whose pending entries draw from disk files (a
// folder walked as an add walks it). Names equal but for ASCII case are one entry. Removed and
// changed entries come in the old side's order, then the added ones in the new side's. An entry
// that cannot be read on either side is told to `progress` by name and cause and is left out of
// `differences`; `failures` counts them. Only entries whose shown name `filter` lets through are
// compared. `threads` pool threads inflate (0 or 1: the calling one).
Outcome diffSides(const GrfArchive& oldSide, const GrfArchive& newSide, bool useKoreanNames, const EntryFilter& filter,
                  ProgressSink& progress, std::vector<DiffItem>& differences, uint64_t& failures, unsigned threads);

// Adds the added and changed entries of `differences` to `patch` as pending entries: another
// archive's entry through importEntry (`newSide` is kept alive by them), a disk file through addFile.
void addDifferences(GrfArchive& patch, const std::shared_ptr<GrfArchive>& newSide,
                    const std::vector<DiffItem>& differences);
