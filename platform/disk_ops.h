#pragma once
#include <string>
#include <string_view>

namespace platform {

// Paths are UTF-16 with backslashes, as everywhere in the core.

// False when it was not created (it may already exist).
bool createDirectory(const std::u16string& path);
// 0 when the directory was made or one is there already; else the runtime's error number
// (EEXIST when something other than a directory stands there).
int makeDirectory(const std::u16string& path);
bool deleteFile(const std::u16string& path);
// Replaces `target` with `source` in one step (the old target stays whole if this fails); the
// runtime's error number in `error` when it fails and `error` is given.
bool replaceFile(const std::u16string& source, const std::u16string& target, int* error = nullptr);
// The calling thread's last system error as the runtime's error number (ENOSPC, EACCES, ...).
int lastSystemErrorAsErrno();
// True for anything but a directory; isDirectory for directories only.
bool fileExists(const std::u16string& path);
bool isDirectory(const std::u16string& path);
// True when both paths name one existing file, however each is spelled (links included).
bool sameFile(const std::u16string& first, const std::u16string& second);
// The path as the operating system spells it: UTF-8 with slashes on POSIX, unchanged on Windows.
std::string nativePathUtf8(const std::u16string& path);
// Turns an OS path (argv, UTF-8 on POSIX) into the core's backslash form. On POSIX, bytes that
// are not UTF-8 are kept (utf8ToUtf16KeepingBytes), and nativePathUtf8 gives them back.
std::u16string corePathFromUtf8(std::string_view path);
// True when a name from the disk holds bytes this system's names do not decode (not UTF-8 on
// POSIX), kept as they were; never on Windows, whose names are UTF-16 already.
bool isUndecodedName(std::u16string_view name);
// The directory separator of this system when it differs from the backslash, else 0.
char16_t extraSeparator();
// False when this system refuses a path of this length before looking at it: Windows' path
// buffers hold 259 units. POSIX answers for itself when the path is used (ENAMETOOLONG).
bool fitsPathLimit(const std::u16string& path);
// True when one component of a path would name a drive or an alternate data stream instead of a
// file below its directory: a ':' on Windows; on POSIX ':' is an ordinary character.
bool namesDriveOrStream(std::u16string_view component);

}  // namespace platform
