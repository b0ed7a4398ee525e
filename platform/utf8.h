#pragma once
#include <string>
#include <string_view>

namespace platform {

// UTF-8 is what the console, argv, JSON and POSIX paths speak; the core speaks UTF-16.
// Unpaired surrogates and invalid sequences become U+FFFD, one for each byte of a bad sequence.
std::string utf16ToUtf8(std::u16string_view text);
std::u16string utf8ToUtf16(std::string_view text);

}  // namespace platform
