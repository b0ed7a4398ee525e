#pragma once
#include <string>
#include <string_view>

class GrfEntry;

// `text` (UTF-8) as a JSON string literal, quotes included.
std::string jsonString(std::string_view text);
// One entry as a single-line JSON object; `shownName` is the name in the chosen form.
std::string entryJson(const GrfEntry& entry, const std::u16string& shownName);
