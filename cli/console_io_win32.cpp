#include "cli/console_io.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "cli/text.h"

namespace {

bool outIsConsole = false;
bool errIsConsole = false;

// A console shows UTF-16 written in wide mode whatever its code page; anything else gets bytes.
void writeTo(std::FILE* stream, bool console, std::string_view text) {
    if (console) {
        const std::u16string wide = utf8ToUtf16(text);
        std::fputws(reinterpret_cast<const wchar_t*>(wide.c_str()), stream);
    } else {
        std::fwrite(text.data(), 1, text.size(), stream);
    }
}

}  // namespace

void prepareConsole() {
    // _isatty also says yes for the NUL device; wide text written there is dropped all the same.
    outIsConsole = _isatty(_fileno(stdout)) != 0;
    errIsConsole = _isatty(_fileno(stderr)) != 0;
    _setmode(_fileno(stdout), outIsConsole ? _O_U16TEXT : _O_BINARY);
    _setmode(_fileno(stderr), errIsConsole ? _O_U16TEXT : _O_BINARY);
}

void writeOut(std::string_view text) {
    if (!outputClosed()) writeTo(stdout, outIsConsole, text);
}

void writeErr(std::string_view text) {
    writeTo(stderr, errIsConsole, text);
    std::fflush(stderr);
}

int writeOutBytes(const void* data, size_t count) {
    if (outputClosed()) return EBADF;
    if (outIsConsole) {
        std::fflush(stdout);
        _setmode(_fileno(stdout), _O_BINARY);
        outIsConsole = false;
    }
    return writeBytes(stdout, data, count);
}


bool stderrIsTerminal() { return errIsConsole; }

int terminalColumns() { return 80; }
