#pragma once
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "archive/format/entry_name.h"
#include "platform/utf8.h"

// The console, argv and JSON speak UTF-8.
using platform::utf16ToUtf8;
using platform::utf8ToUtf16;

// Lowercase hexadecimal of raw bytes, two digits each.
std::string hexOf(std::string_view bytes);
// The bytes of a hexadecimal text (either case, even length); nullopt otherwise.
std::optional<std::string> bytesFromHex(std::string_view hex);


// `text` (UTF-8) safe to show on a terminal: control characters become escapes as `ls` shows
// them ("\n", "\t", "\x1b"; C1 controls "\u009b"), so a name cannot add lines or drive the terminal;
// a byte that is no part of a UTF-8 character becomes "\xff" likewise.
std::string escapeControls(std::string_view text);
// Only the bytes that are no part of a UTF-8 character as "\xff", for JSON, which must be UTF-8.
std::string escapeStrayBytes(std::string_view text);
