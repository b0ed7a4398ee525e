#pragma once
#include <optional>
#include <string>

// Temporary files beside an archive ("NAME.grf.XXXX.tmp"), where a new archive or a repack is
// built before it takes the archive's name: recognisable by name, so leftovers can be cleaned.

// A fresh, empty one beside `archivePath`; nullopt and the system's error number in `error`
// when none can be made.
std::optional<std::u16string> createStagingFile(const std::u16string& archivePath, int* error = nullptr);
// Removes the ones of `archivePath` that no running program holds (an interrupted save or
// repack left them), except `keep`.
void removeStaleStagingFiles(const std::u16string& archivePath, const std::u16string& keep = {});
