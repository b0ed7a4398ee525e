#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/disk_ops.h"

namespace fs = std::filesystem;

void fuzzFailure(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

namespace {

void removeScratch() {
    std::error_code ignored;
    fs::remove_all(scratchRoot(), ignored);
}

std::string makeScratch() {
    // tmpfs where there is one: the save target flushes to disk on every input.
    const char* configured = std::getenv("QUARNEL_FUZZ_TMP");
    fs::path base = configured && *configured ? fs::path(configured)
                    : fs::is_directory("/dev/shm")  ? fs::path("/dev/shm")
                                                    : fs::temp_directory_path();
    const fs::path root = base / ("quarnel-fuzz-" + std::to_string(::getpid()));
    std::error_code ignored;
    fs::remove_all(root, ignored);
    fs::create_directories(root);
    return root.string();
}

}  // namespace

const std::string& scratchRoot() {
    // Never destroyed: the exit handler that removes the directory still needs the name.
    static const std::string* const root = [] {
        const auto* made = new std::string(makeScratch());
        std::atexit(removeScratch);
        return made;
    }();
    return *root;
}

std::string scratchNativePath(const std::string& relative) {
    return relative.empty() ? scratchRoot() : scratchRoot() + "/" + relative;
}

std::u16string scratchCorePath(const std::string& relative) {
    return platform::corePathFromUtf8(scratchNativePath(relative));
}

void writeScratchFile(const std::string& relative, const uint8_t* data, size_t size) {
    std::ofstream out(scratchNativePath(relative), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    FUZZ_CHECK(out.good());
}

void QuietProgress::reportStatus(const char16_t* text) {
    FUZZ_CHECK(text != nullptr);
    ++statusCount;
}

void QuietProgress::reportProgress(uint32_t, bool) {}
