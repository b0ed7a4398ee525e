#pragma once

// Why an archive or entry operation failed; kept in `lastError`. Any other value
// (0, or the runtime's error number when a file does not open) has the empty text.
constexpr int RESULT_INVALID_ARCHIVE = -1001;   // header too short, wrong magic
constexpr int RESULT_BAD_VERSION = -1002;       // unsupported version
constexpr int RESULT_BAD_LENGTH = -1003;        // a position cannot be reached or read in full
constexpr int RESULT_TABLE_SHORT = -1004;       // table shorter than announced, or malformed
constexpr int RESULT_BAD_DATA = -1005;          // a zlib stream does not inflate, or compression fails
constexpr int RESULT_OPEN_FAILED = -1006;       // an output or source file cannot be opened

// The message text of `code`; the empty text for any value without one.
const char16_t* resultText(int code);
