#pragma once
#include <cstdint>
#include <string>
#include <string_view>

class GrfArchive;
class GrfEntry;

// Adds every entry of the archive at `otherPath` to `archive` as pending entries, in table order.
// 0, or the failed open's code (a result code or the runtime's error number); nothing is imported then.
int mergeArchive(GrfArchive& archive, const std::u16string& otherPath);
