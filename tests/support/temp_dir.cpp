#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::u16string toCore(const fs::path& path) {
    std::u16string text = path.u16string();
    for (char16_t& c : text) {
        if (c == u'/') c = u'\\';
    }
    return text;
}

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const char* configured = std::getenv("QUARNEL_TEST_TMP");
    const fs::path base = configured && *configured ? fs::path(configured) : fs::temp_directory_path();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path root = base / ("qt-" + std::to_string(stamp % 1000000007) + "-" + std::to_string(counter++));
    fs::create_directories(root);
    nativeRoot = root.string();
    corePath = toCore(root);
}

TempDir::~TempDir() {
    if (::testing::Test::HasFailure()) {
        std::fprintf(stderr, "kept for a look: %s\n", nativeRoot.c_str());
        return;
    }
    std::error_code ignored;
    fs::remove_all(nativeRoot, ignored);
}

std::u16string TempDir::file(const std::u16string& relative) const {
    return relative.empty() ? corePath : corePath + u"\\" + relative;
}

std::string TempDir::native(const std::u16string& relative) const {
    fs::path result(nativeRoot);
    if (!relative.empty()) {
        std::u16string piece = relative;
        for (char16_t& c : piece) {
            if (c == u'\\') c = u'/';
        }
        result /= fs::path(piece);
    }
    return result.string();
}
