#pragma once
#include <string>

#include "platform/exclusive_file.h"

// Where test programs make file operations fail on purpose. The shipped programs link
// file_faults_none.cpp, which allows everything; a test program links its own definitions
// (tests/support/file_faults.cpp) in their place.
namespace platform::file_faults {

// False when the next read is to fail (EIO).
bool readAllowed();
// False when the next write is to fail as on a full disk (ENOSPC).
bool writeAllowed();
// 0, or the error number the open of `path` is to fail with (EACCES: a file another program holds).
int openFault(const std::u16string& path, ExclusiveFile::Mode mode);

}  // namespace platform::file_faults
