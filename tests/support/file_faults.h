#pragma once
#include <functional>
#include <string>

#include "platform/exclusive_file.h"

// Test programs make file operations fail through these; each hook is asked before every call of
// its kind, from any thread. An empty function removes the hook.

// Returning false makes that write fail as on a full disk (ENOSPC).
void setWriteFaultHook(std::function<bool()> hook);
// Returning false makes that read fail (EIO).
void setReadFaultHook(std::function<bool()> hook);
// A nonzero answer fails that open with that error number (EACCES as a file another program holds).
void setOpenFaultHook(std::function<int(const std::u16string& path, platform::ExclusiveFile::Mode mode)> hook);
