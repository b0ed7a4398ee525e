#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/exclusive_file.h"

// What ExclusiveFile needs from each system; exclusive_file.cpp holds everything else.
namespace platform::file_shim {

// The stream for `path`, shared with other programs as `mode` allows; nullptr with the runtime's
// error number in `error` (EACCES for a file someone else holds, or a directory), and `held` set
// when it is someone else's hold.
std::FILE* openShared(const std::u16string& path, ExclusiveFile::Mode mode, int& error, bool& held);
// 64-bit fseek and ftell of the runtime.
bool seekTo(std::FILE* file, int64_t offset, int origin);
int64_t tellOf(std::FILE* file);
// Length of the stream's file as the system knows it (nothing may wait in its buffer); -1 when
// it cannot be told.
int64_t lengthOf(std::FILE* file);
// Up to `count` bytes at `position`, in as few calls as the system allows (nothing may wait in
// the stream's buffer); -1 on an error, in errno. The stream's position is unspecified afterwards.
int64_t readAt(std::FILE* file, uint64_t position, void* buffer, size_t count);
// Asks the system to write the stream's flushed bytes to the disk itself.
bool commitToDisk(std::FILE* file);
// Cuts or extends the stream's file to `length` bytes (nothing may wait in its buffer).
bool truncateTo(std::FILE* file, uint64_t length);

}  // namespace platform::file_shim
