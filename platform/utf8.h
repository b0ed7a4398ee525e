#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 is what the console, argv, JSON and POSIX paths speak; the core speaks UTF-16.
// Unpaired surrogates and invalid sequences become U+FFFD, one for each byte of a bad sequence.
std::string utf16ToUtf8(std::u16string_view text);
std::u16string utf8ToUtf16(std::string_view text);
// The bytes utf16ToUtf8 makes of `text`, without making them.
size_t utf8Length(std::u16string_view text);
// The length of the UTF-8 sequence at `at` (its character in `character` when given), 0 when none
// starts there: a stray continuation byte, an overlong form, a surrogate, a value past U+10FFFF,
// or a sequence cut short.
size_t utf8SequenceAt(std::string_view text, size_t at, char32_t* character = nullptr);

// For POSIX file names, which are bytes: as utf8ToUtf16, but a byte that starts no valid sequence
// becomes U+DC80 + byte, an unpaired surrogate that no valid text decodes to, and the way back
// turns it into that byte again, so a name that is not UTF-8 still reaches its file.
std::u16string utf8ToUtf16KeepingBytes(std::string_view text);
std::string utf16ToUtf8KeepingBytes(std::u16string_view text);
// True when `text` holds a byte that utf8ToUtf16KeepingBytes kept.
bool holdsKeptBytes(std::u16string_view text);

}  // namespace platform
