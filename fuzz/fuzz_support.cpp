#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include "platform/disk_ops.h"

namespace fs = std::filesystem;

void fuzzFailure(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

namespace {

int processId() {
#if defined(_WIN32)
    return _getpid();
#else
    return ::getpid();
#endif
}

void removeScratch() {
    std::error_code ignored;
    fs::remove_all(scratchRoot(), ignored);
}

fs::path makeScratch() {
    // tmpfs where there is one: the save target flushes to disk on every input.
    const char* configured = std::getenv("QUARNEL_FUZZ_TMP");
    std::error_code error;
    const fs::path base = configured && *configured       ? fs::path(configured)
                          : fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm")
                                                                : fs::temp_directory_path();
    const fs::path root = base / ("quarnel-fuzz-" + std::to_string(processId()));
    fs::remove_all(root, error);
    fs::create_directories(root);
    return root;
}

}  // namespace

const fs::path& scratchRoot() {
    // Never destroyed: the exit handler that removes the directory still needs the name.
    static const fs::path* const root = [] {
        const auto* made = new fs::path(makeScratch());
        std::atexit(removeScratch);
        return made;
    }();
    return *root;
}

fs::path scratchPath(const std::string& relative) {
    return relative.empty() ? scratchRoot() : scratchRoot() / fs::path(relative);
}

std::u16string scratchCorePath(const std::string& relative) {
    std::u16string text = scratchPath(relative).u16string();
    for (char16_t& c : text) {
        if (c == u'/') c = u'\\';
    }
    return text;
}

fs::path systemPath(const std::u16string& corePath) {
    const std::string utf8 = platform::nativePathUtf8(corePath);
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

void writeScratchFile(const std::string& relative, const uint8_t* data, size_t size) {
    std::ofstream out(scratchPath(relative), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    FUZZ_CHECK(out.good());
}

void QuietProgress::reportStatus(const char16_t* text) {
    FUZZ_CHECK(text != nullptr);
    ++statusCount;
}

void QuietProgress::reportProgress(uint32_t, bool) {}
