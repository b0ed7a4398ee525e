#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/base/outcome.h"

class GrfArchive;
class GrfEntry;
class ProgressSink;

// Adds every entry of the archive at `otherPath` (opened to read only) to `archive` as pending
// entries, in table order. An entry whose data its archive cannot hold (a position past its end
// or one no record can reach) is left out and told to `progress`; the others still come. When
// the other archive does not open, nothing is imported and the outcome says why.
Outcome mergeArchive(GrfArchive& archive, const std::u16string& otherPath, ProgressSink& progress);
