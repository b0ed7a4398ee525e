#include "archive/model/staging.h"

#include <vector>

#include "platform/dir_walk.h"
#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"
#include "platform/temp_file.h"

namespace {

constexpr size_t NUMBER_DIGITS = 4;

struct PathParts {
    std::u16string directory;  // empty: the current directory
    std::u16string name;
};

PathParts splitPath(const std::u16string& path) {
    const size_t slash = path.rfind(u'\\');
    if (slash == std::u16string::npos) return {u"", path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

bool isHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// "NAME.grf." + four hex digits + ".tmp", as createTempFile names them; case as the system
// spells the archive's name, since both come from the same path.
bool isStagingName(const std::u16string& candidate, const std::u16string& prefix) {
    const std::u16string suffix = u".tmp";
    if (candidate.size() != prefix.size() + NUMBER_DIGITS + suffix.size()) return false;
    if (candidate.compare(0, prefix.size(), prefix) != 0) return false;
    for (size_t i = 0; i < NUMBER_DIGITS; ++i) {
        if (!isHexDigit(candidate[prefix.size() + i])) return false;
    }
    return candidate.compare(prefix.size() + NUMBER_DIGITS, suffix.size(), suffix) == 0;
}

}  // namespace

std::optional<std::u16string> createStagingFile(const std::u16string& archivePath, int* error) {
    const PathParts parts = splitPath(archivePath);
    return platform::createTempFile(parts.directory, parts.name + u".", error);
}

void removeStaleStagingFiles(const std::u16string& archivePath, const std::u16string& keep) {
    const PathParts parts = splitPath(archivePath);
    const std::u16string prefix = parts.name + u".";
    std::vector<std::u16string> found;
    platform::listDirectory(parts.directory, [&](const platform::DirItem& item) {
        if (item.kind == platform::ItemKind::FILE && isStagingName(item.name, prefix)) {
            found.push_back(parts.directory.empty() ? item.name : parts.directory + u'\\' + item.name);
        }
    });
    for (const std::u16string& path : found) {
        if (path == keep) continue;
        // A running save or repack holds its file alone, so it does not open here.
        platform::ExclusiveFile probe;
        if (probe.open(path, platform::ExclusiveFile::Mode::UPDATE) != 0) continue;
        probe.close();
        platform::deleteFile(path);
    }
}
