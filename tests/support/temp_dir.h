#pragma once
#include <string>

// A fresh directory for one test: removed when the test passed, kept for a look when it failed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory in the core's form: UTF-16, backslash-separated, no trailing separator.
    const std::u16string& path() const { return corePath; }
    // `relative` (backslash-separated) below the directory, in the core's form.
    std::u16string file(const std::u16string& relative) const;
    // The same as a native path for the test's own file checks.
    std::string native(const std::u16string& relative = u"") const;

private:
    std::string nativeRoot;
    std::u16string corePath;
};
