#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/name_limit.h"

namespace platform {

constexpr uint32_t CODE_PAGE_KOREAN = 949;
constexpr uint32_t CODE_PAGE_WESTERN = 1252;

// The code page the "ANSI" name form means. Windows: GetACP() unless overridden; POSIX: 1252 unless overridden.
uint32_t ansiCodePage();
// Overrides the ANSI code page for this process (the command line's --ansi-codepage).
// False when the code page is not supported; the previous one then stays. POSIX supports
// 874, 932, 936, 949, 950 and 1250-1258; Windows any installed code page but UTF-7/UTF-8.
bool setAnsiCodePage(uint32_t codePage);

// Bytes of `codePage` as precomposed UTF-16. Empty when the bytes do not convert exactly
// or need more than MAX_NAME_LENGTH units. Both systems give the same units for the same bytes.
std::u16string decodeText(std::string_view bytes, uint32_t codePage);

// A whole text file of `codePage` as UTF-16, of any length. Bytes the code page lacks become
// U+FFFD (Windows may use the code page's own default character), so the rest still shows.
std::u16string decodeDocument(std::string_view bytes, uint32_t codePage);

// UTF-16 to bytes of `codePage` without best-fit look-alikes or default characters;
// nullopt when any character has no exact equivalent (its bytes must read back as itself)
// or the bytes would exceed MAX_NAME_LENGTH.
std::optional<std::string> encodeText(std::u16string_view text, uint32_t codePage);

}  // namespace platform
