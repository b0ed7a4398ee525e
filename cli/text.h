#pragma once
#include <optional>
#include <string>
#include <string_view>

// UTF-8 is what the console, argv and JSON speak; the core speaks UTF-16.
// Unpaired surrogates and invalid sequences become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
std::u16string utf8ToUtf16(std::string_view text);

// Lowercase hexadecimal of raw bytes, two digits each.
std::string hexOf(std::string_view bytes);
// The bytes of a hexadecimal text (either case, even length); nullopt otherwise.
std::optional<std::string> bytesFromHex(std::string_view hex);
