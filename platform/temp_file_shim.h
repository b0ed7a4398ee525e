#pragma once
#include <string>

// What createTempFile needs from each system; temp_file.cpp holds the naming and the tries.
namespace platform::file_shim {

enum class NewFile { CREATED, EXISTS, FAILED };

// Creates `path` as a new, empty file and closes it; EXISTS when the name is taken, FAILED with
// the runtime's error number in `error` for any other failure.
NewFile createNewFile(const std::u16string& path, int& error);

}  // namespace platform::file_shim
