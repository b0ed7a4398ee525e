#pragma once
#include <optional>
#include <string>
#include <string_view>

class GrfArchive;

// Adds every entry of the archive at `otherPath` to `archive` as pending entries, in table order.
// 0, or the failed open's code (a result code or the runtime's error number); nothing is imported then.
int mergeArchive(GrfArchive& archive, const std::u16string& otherPath);

// A wide name as the 8-bit name stored in a table, in code page 949 or the ANSI code page;
// nullopt when it does not convert without loss, is empty, or needs more than 259 bytes.
std::optional<std::string> encodeEntryName(std::u16string_view name, bool useKoreanNames);
