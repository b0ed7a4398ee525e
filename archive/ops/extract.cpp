#include "archive/ops/extract.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "archive/model/archive.h"
#include "archive/format/entry_name.h"
#include "archive/base/result_codes.h"
#include "platform/code_page.h"
#include "platform/disk_ops.h"

namespace {

bool isSeparator(char16_t c) {
    // "/" separates on Windows as well, so it is never a plain character of a name.
    return c == u'\\' || c == u'/';
}

bool isDotsAndSpaces(std::u16string_view component) {
    return std::all_of(component.begin(), component.end(), [](char16_t c) { return c == u'.' || c == u' '; });
}

// Windows opens these names as devices in every directory: "data\con.txt" would write to the
// console, not to a file below the target. Refused on every system, so both extract alike.
bool isDeviceName(std::u16string_view component) {
    std::u16string_view base = component.substr(0, component.find(u'.'));
    // Windows drops trailing spaces too: "con " is still the console.
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    auto equals = [&](std::u16string_view name) {
        return base.size() == name.size() &&
               std::equal(base.begin(), base.end(), name.begin(), [&](char16_t a, char16_t b) { return asciiUpper(a) == b; });
    };
    for (const std::u16string_view name : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
        if (equals(name)) return true;
    }
    if (base.size() == 4 && base[3] >= u'1' && base[3] <= u'9') {
        const std::u16string_view prefix = base.substr(0, 3);
        auto prefixIs = [&](std::u16string_view name) {
            return std::equal(prefix.begin(), prefix.end(), name.begin(), [&](char16_t a, char16_t b) { return asciiUpper(a) == b; });
        };
        if (prefixIs(u"COM") || prefixIs(u"LPT")) return true;
    }
    return false;
}

}  // namespace

Cause entryPathRefusal(std::u16string_view name) {
    size_t start = 0;
    for (;;) {
        const auto end = std::find_if(name.begin() + start, name.end(), isSeparator) - name.begin();
        const std::u16string_view component = name.substr(start, size_t(end) - start);
        // Empty covers a leading separator and doubled or trailing ones; Windows drops trailing dots
        // and spaces, so "..." or ". ." could stand for "..".
        if (component.empty() || isDotsAndSpaces(component)) return Cause::UNSAFE_NAME;
        // Control characters: Windows refuses them in file names, and on a terminal a newline or
        // an escape in a file name misleads whoever lists it. Refused on both, so both extract alike.
        if (std::any_of(component.begin(), component.end(), [](char16_t c) { return c < 0x20; })) {
            return Cause::UNSAFE_NAME;
        }
        if (isDeviceName(component)) return Cause::UNSAFE_NAME;
        // A drive ("C:") or an alternate data stream ("a.txt:x") where the system reads ':' so.
        if (platform::namesDriveOrStream(component)) return Cause::DRIVE_OR_STREAM_NAME;
        if (size_t(end) == name.size()) return Cause::NONE;
        start = size_t(end) + 1;
    }
}

bool isSafeEntryPath(std::u16string_view name) {
    return entryPathRefusal(name) == Cause::NONE;
}

std::optional<std::u16string> entryTargetPath(const GrfEntry& entry, const std::u16string& targetDir, bool keepDirs,
                                              bool useKoreanNames) {
    const std::u16string& fullName = entry.displayName(useKoreanNames);
    // The name comes from an untrusted file: it may only ever name something below targetDir.
    if (!isSafeEntryPath(fullName) || entry.name().size() > MAX_NAME_LENGTH) return std::nullopt;
    std::u16string name = withBackslashes(fullName);
    if (!keepDirs) name.erase(0, name.rfind(u'\\') + 1);

    // An empty target means the current directory; a separator in front would mean the root.
    std::u16string path = targetDir;
    if (!path.empty() && path.back() != u'\\') path += u'\\';
    path += name;
    // Cutting the path would write some other file. Where the system has no fixed limit of its
    // own it answers for the path itself, with its own words.
    if (!platform::fitsPathLimit(path)) return std::nullopt;
    return path;
}

FailureReason createParentDirectories(const std::u16string& path) {
    DirectoryMaker maker;
    return maker.createParentsOf(path);
}

FailureReason DirectoryMaker::createParentsOf(const std::u16string& path) {
    const size_t parentEnd = path.rfind(u'\\');
    if (parentEnd == std::u16string::npos || parentEnd == 0) return {};
    std::u16string parent = path.substr(0, parentEnd);
    // The levels not made yet, from the top; those made before cost a look-up, not a system call.
    std::vector<std::u16string> missing;
    {
        const std::lock_guard guard(lock);
        if (made.count(parent) != 0) return {};
        if (const auto known = refused.find(parent); known != refused.end()) return known->second;
        for (size_t at = parent.find(u'\\'); at != std::u16string::npos; at = parent.find(u'\\', at + 1)) {
            if (at == 0) continue;
            std::u16string level = parent.substr(0, at);
            if (made.count(level) == 0) missing.push_back(std::move(level));
        }
        missing.push_back(parent);
    }
    // Created without the lock, which would keep the other threads waiting on the file system.
    // Two threads making the same level both find it there. A level that fails above one that
    // is there after all (a drive, a server's name) does not count; the first failure below the
    // last level that is there is the cause, since every level under it fails for want of it.
    std::vector<bool> isThere(missing.size());
    FailureReason failure;
    for (size_t i = 0; i < missing.size(); ++i) {
        const int error = platform::makeDirectory(missing[i]);
        isThere[i] = error == 0;
        if (error == 0) {
            failure = FailureReason{};
        } else if (!failure.failed()) {
            failure = systemFailure(RESULT_OPEN_FAILED, Operation::CREATE, error, missing[i]);
            failure.cause = Cause::DIRECTORY_NOT_CREATED;
            failure.directory = missing[i];
        }
    }
    const std::lock_guard guard(lock);
    for (size_t i = 0; i < missing.size(); ++i) {
        if (isThere[i]) made.insert(std::move(missing[i]));
    }
    if (failure.failed()) refused.emplace(std::move(parent), failure);
    return failure;
}

FailureReason refusedTarget(const GrfEntry& entry, bool useKoreanNames) {
    const std::u16string& name = entry.displayName(useKoreanNames);
    Cause cause = Cause::NAME_TOO_LONG;
    uint32_t codePage = 0;
    if (name.empty()) {
        // The stored bytes have no form in the chosen code page; the name shown is their hex.
        cause = Cause::NAME_NOT_ENCODABLE;
        codePage = useKoreanNames ? platform::CODE_PAGE_KOREAN : platform::ansiCodePage();
    } else if (const Cause refusal = entryPathRefusal(name); refusal != Cause::NONE) {
        cause = refusal;
    }
    FailureReason reason = ruleFailure(RESULT_OPEN_FAILED, Operation::EXTRACT, cause, name, codePage);
    reason.subjectIsEntry = true;
    if (name.empty()) reason.subject.assign(entry.name().begin(), entry.name().end());
    return reason;
}
