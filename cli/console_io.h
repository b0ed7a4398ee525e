#pragma once
#include <cstddef>
#include <cstdio>
#include <string_view>

// Standard output and error as this system has them. Text is UTF-8 in the program; a Windows
// console gets it as UTF-16, files and pipes get the bytes unchanged (no newline translation).

// Once, before anything is written.
void prepareConsole();
void writeOut(std::string_view text);
void writeErr(std::string_view text);
// Raw bytes to standard output (an extracted entry), whatever standard output is; 0, or the
// runtime's error number when they could not be written.
int writeOutBytes(const void* data, size_t count);
// Flushes and closes standard output, where a full disk or a closed pipe may show alone; 0 or
// the runtime's error number. Nothing is written to it afterwards; a second call answers 0.
int closeOut();
// Whether closeOut ran: nothing may be written to standard output then.
bool outputClosed();
// fwrite of the runtime: 0, or its error number.
int writeBytes(std::FILE* stream, const void* data, size_t count);


// Whether standard error is an interactive terminal (not a file or pipe).
bool stderrIsTerminal();
// Width of that terminal in columns; 80 when it cannot be told.
int terminalColumns();
