#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The asset-like corpus the benchmarks pack, extract and check: client-like names (most with
// Korean parts, written as UTF-8 file names), text, bitmaps with runs and packed noise, sizes from
// 256 bytes to about 100 KB with a few files of 1 to 4 MB. The same tree every run.
// Writes `files` files of about `totalMb` MB in all below `root`; `onFile`, when set, gets each
// file's name as an archive stores it (code page 949 bytes, "data\" in front) and its bytes.
// The bytes written, or nullopt when a name could not be made.
using CorpusFileListener = std::function<void(const std::string& storedName, const std::vector<uint8_t>& data)>;
std::optional<uint64_t> writeCorpus(const std::filesystem::path& root, uint32_t files, double totalMb,
                                    const CorpusFileListener& onFile = {});

// The small-file tree: `files` files of 50 to 900 bytes spread over `folders` folders (most folder
// names Korean, as in the corpus), content as compressible as the corpus's. What each entry costs
// beyond its bytes shows here. The bytes written, or nullopt when a name could not be made.
std::optional<uint64_t> writeSmallFileTree(const std::filesystem::path& root, uint32_t files, uint32_t folders);
