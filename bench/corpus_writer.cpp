#include "bench/corpus_writer.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "bench/bench_support.h"
#include "platform/code_page.h"
#include "platform/utf8.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> makeContent(size_t size, Generator& random) {
    std::vector<uint8_t> out(size);
    switch (random.below(3)) {
    case 0: {
        static const char* const WORDS[] = {"sprite ", "texture ", "monster ", "0.25 ", "\r\n", "effect ", "wall "};
        for (size_t i = 0; i < size;) {
            for (const char* p = WORDS[random.below(7)]; *p && i < size; ++p) out[i++] = uint8_t(*p);
        }
        break;
    }
    case 1:
        for (size_t i = 0; i < size;) {
            const uint8_t colour = uint8_t(random.below(16));
            for (size_t run = 1 + random.below(24); run && i < size; --run) out[i++] = colour;
        }
        break;
    default:
        for (auto& b : out) b = uint8_t(random.next());
        break;
    }
    return out;
}

}  // namespace

std::optional<uint64_t> writeCorpus(const fs::path& root, uint32_t files, double totalMb, const CorpusFileListener& onFile) {
    Generator random(11);
    // Sizes spread log-uniformly, then scaled so that the tree holds about `totalMb`.
    std::vector<size_t> sizes(files);
    double sum = 0;
    for (uint32_t i = 0; i < files; ++i) {
        sizes[i] = size_t(256.0 * std::pow(384.0, double(random.below(10000)) / 10000.0));
        if (i % 1000 == 999) sizes[i] = (1u << 20) + random.below(3u << 20);
        sum += double(sizes[i]);
    }
    const double scale = totalMb * 1e6 / sum;
    uint64_t written = 0;
    for (uint32_t i = 0; i < files; ++i) {
        const std::string stored = makeEntryName(i, random);
        // The name as a file below the tree: UTF-8, without the "data\" that `add` puts in front.
        std::u16string wide = platform::decodeText(stored, platform::CODE_PAGE_KOREAN);
        if (wide.empty()) return std::nullopt;
        wide.erase(0, 5);
        std::replace(wide.begin(), wide.end(), u'\\', u'/');
        const std::string utf8 = platform::utf16ToUtf8(wide);
        const fs::path file = root / fs::path(std::u8string(utf8.begin(), utf8.end()));
        fs::create_directories(file.parent_path());
        const auto data = makeContent(std::max<size_t>(1, size_t(double(sizes[i]) * scale)), random);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
        written += data.size();
        if (onFile) onFile(stored, data);
    }
    return written;
}

std::optional<uint64_t> writeSmallFileTree(const fs::path& root, uint32_t files, uint32_t folders) {
    Generator random(23);
    std::vector<fs::path> folderPaths;
    folderPaths.reserve(folders);
    for (uint32_t i = 0; i < folders; ++i) {
        // makeEntryName's folders and Korean parts; its file part is dropped, the index keeps them apart.
        std::string stored = makeEntryName(i, random);
        stored.erase(stored.rfind('\\'));
        stored += "_" + std::to_string(i);
        std::u16string wide = platform::decodeText(stored, platform::CODE_PAGE_KOREAN);
        if (wide.empty()) return std::nullopt;
        wide.erase(0, 5);
        std::replace(wide.begin(), wide.end(), u'\\', u'/');
        const std::string utf8 = platform::utf16ToUtf8(wide);
        folderPaths.push_back(root / fs::path(std::u8string(utf8.begin(), utf8.end())));
        fs::create_directories(folderPaths.back());
    }
    static const char* const SUFFIXES[] = {".txt", ".xml", ".lua", ".act", ".pal", ".gat"};
    uint64_t written = 0;
    for (uint32_t i = 0; i < files; ++i) {
        const fs::path file = folderPaths[i % folders] / ("f" + std::to_string(i) + SUFFIXES[random.below(6)]);
        const auto data = makeContent(50 + random.below(851), random);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
        written += data.size();
    }
    return written;
}
