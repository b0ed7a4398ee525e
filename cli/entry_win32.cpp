#include <string>
#include <vector>

#include "cli/main.h"
#include "cli/text.h"

// Built with -municode: the arguments arrive as UTF-16, whatever the ANSI code page can spell.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
    }
    return runCli(arguments);
}
