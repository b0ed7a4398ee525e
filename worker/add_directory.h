#pragma once
#include <cstddef>
#include <string>

#include "archive/base/progress_sink.h"
#include "worker/task_args.h"

// Adds every file below `directory` to the archive of `args` as "data\" and its path below the
// first `prefixLength` units; each file left out is told to `progress` with its cause.
void addDirectoryTree(const AddDirectoryArgs& args, size_t prefixLength, const std::u16string& directory,
                      ProgressSink& progress);
