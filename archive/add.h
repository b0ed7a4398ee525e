#pragma once
#include <cstdint>
#include <string>
#include <string_view>

class GrfArchive;
class GrfEntry;
class ProgressSink;

// Adds every entry of the archive at `otherPath` to `archive` as pending entries, in table order.
// An entry whose data its archive cannot hold (a position past its end or one no record can
// reach) is left out and told to `progress`; the others still come. 0, or the failed open's code
// (a result code or the runtime's error number, its reason in archive.lastReason); nothing is
// imported then.
int mergeArchive(GrfArchive& archive, const std::u16string& otherPath, ProgressSink& progress);
