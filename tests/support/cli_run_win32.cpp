#include "tests/support/cli_run.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tests/support/cli_archive_writer.h"

namespace {

// The child parses its command line the way the runtime does: quotes around each word, and
// backslashes doubled only where they precede a quote.
std::wstring quoteArgument(const std::wstring& word) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::wstring wide(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

}  // namespace

CliResult runCliProgram(const std::vector<std::string>& arguments, const std::string& scratchDir) {
    const std::string outPath = scratchDir + "\\cli-stdout";
    const std::string errPath = scratchDir + "\\cli-stderr";
    std::wstring exe = wide(QUARNEL_CLI_EXE);
    for (wchar_t& c : exe) {
        if (c == L'/') c = L'\\';
    }
    std::vector<std::wstring> words{quoteArgument(exe)};
    for (const std::string& argument : arguments) words.push_back(quoteArgument(wide(argument)));
    std::vector<const wchar_t*> argv;
    for (const std::wstring& word : words) argv.push_back(word.c_str());
    argv.push_back(nullptr);

    // The child inherits descriptors 1 and 2: point them at the files for the spawn only.
    const int outFile = _wopen(wide(outPath).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    const int errFile = _wopen(wide(errPath).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = _dup(1);
    const int savedErr = _dup(2);
    _dup2(outFile, 1);
    _dup2(errFile, 2);
    // Under a loaded Wine a process now and then fails to start at all (-1 with errno set, where
    // a program that ran and exited with -1 leaves errno alone): tried again, and the system's
    // reason kept when it never starts.
    intptr_t status = -1;
    int spawnError = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        errno = 0;
        status = _wspawnv(_P_WAIT, exe.c_str(), argv.data());
        spawnError = status == -1 ? errno : 0;
        if (spawnError == 0) break;
    }
    _dup2(savedOut, 1);
    _dup2(savedErr, 2);
    _close(savedOut);
    _close(savedErr);
    _close(outFile);
    _close(errFile);

    CliResult result;
    result.status = int(status);
    result.out = readFileBytes(outPath);
    result.err = readFileBytes(errPath);
    if (spawnError != 0) result.err += std::string("(the program did not start: ") + std::strerror(spawnError) + ")\n";
    return result;
}

// Windows has no user whom permissions leave alone the way they leave root.
std::optional<CliResult> runCliProgramUnprivileged(const std::vector<std::string>& arguments,
                                                   const std::string& scratchDir) {
    return runCliProgram(arguments, scratchDir);
}

std::optional<CliResult> runCliProgramOnTerminal(const std::vector<std::string>&, const std::string&) {
    return std::nullopt;
}

std::optional<CliResult> runCliProgramKilledMidSave(const std::vector<std::string>&, const std::string&) {
    return std::nullopt;
}
