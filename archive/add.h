#pragma once
#include <cstdint>
#include <string>
#include <string_view>

class GrfArchive;
class GrfEntry;

// Adds every entry of the archive at `otherPath` to `archive` as pending entries, in table order.
// 0, or the failed open's code (a result code or the runtime's error number); nothing is imported then.
int mergeArchive(GrfArchive& archive, const std::u16string& otherPath);

// Makes the disk file at `path` the pending entry `name` (table bytes): every stored namesake is
// marked deleted, a pending namesake takes the new file, else a fresh entry is appended and
// indexed. Holds listLock while it changes the entries.
GrfEntry* addPendingFile(GrfArchive& archive, const std::string& name, const std::u16string& path, uint32_t size);
