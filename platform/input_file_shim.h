#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// What InputFile needs from each system; input_file.cpp holds everything else.
namespace platform::input_shim {

// Opens `path` to read, shared with readers while nobody writes: 0 with `handle` and `length`
// set, or the runtime's error number (EACCES for a directory or for a file someone else holds,
// which sets `held`).
int openShared(const std::u16string& path, intptr_t& handle, uint64_t& length, bool& held);
void closeHandle(intptr_t handle);
// Up to `count` bytes at `position` in one call of the system: how many, 0 at the end of the
// file, or -1 with the runtime's error number in `error`.
int64_t readSome(intptr_t handle, uint64_t position, void* buffer, size_t count, int& error);

}  // namespace platform::input_shim
