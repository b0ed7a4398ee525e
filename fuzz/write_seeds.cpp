// Writes the seed corpus with the tests' own archive writer:
//   quarnel_fuzz_seeds DIR   makes DIR/archives (open, extract, save), DIR/decode and DIR/tga.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/archive_writer.h"
#include "tests/support/tga_writer.h"

namespace fs = std::filesystem;

namespace {

void writeSeed(const fs::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Plain, mixed and header-only entries, an empty one, nested directories and Korean bytes.
TestArchive typicalEntries(TestArchive archive) {
    return archive.add("data\\readme.txt", "hello, archive")
        .add("data\\texture\\effect\\spark.bmp", sampleData(700, 2))
        .add("data\\map.gat", sampleData(300, 3))
        .add("data\\empty.txt", "")
        .add("data\\\xc7\xd1\xb1\xdb.txt", "korean name")
        .add("data\\sprite.act", sampleData(200, 4))
        .add("noextension", "no dot in this name");
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> archiveSeeds() {
    return {
        {"empty.grf", TestArchive().bytes()},
        {"current.grf", typicalEntries(TestArchive()).bytes()},
        {"current-coded.grf", TestArchive()
                                  .add("data\\mixed.bmp", sampleData(900, 5)).flags(3)
                                  .add("data\\header.gnd", sampleData(400, 6)).flags(5)
                                  .add("data\\skipped.txt", "not an entry").flags(2)
                                  .bytes()},
        {"legacy-103.grf", typicalEntries(TestArchive().legacy(0x103)).bytes()},
        {"legacy-101.grf", TestArchive().legacy(0x101).add("data\\a.str", "abc").add("data\\b.wav", "w").bytes()},
        {"noise.grf", TestArchive().level(0).add("data\\noise.bin", noiseData(1500, 7)).bytes()},
        // Names an extraction must not follow out of its directory.
        {"escaping-names.grf", TestArchive()
                                   .add("data\\..\\..\\up.txt", "up")
                                   .add("\\rooted.txt", "rooted")
                                   .add("C:\\drive.txt", "drive")
                                   .add("data/../slash.txt", "slash")
                                   .add("data\\ . \\dots.txt", "dots")
                                   .add("data\\file.txt:stream", "stream")
                                   .add("data\\.. \\trailing.txt", "trailing space")
                                   .add("data\\nul", "device")
                                   .add("data\\..\\", "only a parent")
                                   .bytes()},
        {"legacy-escaping.grf", TestArchive().legacy().add("..\\..\\up.gat", "up").add("data\\\\x.bmp", "x").bytes()},
        // Sizes and positions no file can hold.
        {"huge-sizes.grf", TestArchive()
                               .add("data\\original.txt", "small").originalSize(0xFFFFFFFF)
                               .add("data\\stored.txt", "small").storedSize(0xFFFFFFFF)
                               .add("data\\compressed.txt", "small").compressedSize(0xFFFFFFF0)
                               .add("data\\offset.txt", "small").dataOffset(0xFFFFFFF0)
                               .bytes()},
        {"huge-table.grf", TestArchive().add("data\\a.txt", "a").damage(Damage::claimTableSize(0xFFFFFFFF)).bytes()},
        {"short-table.grf", TestArchive().add("data\\a.txt", "a").damage(Damage::truncateTable(3)).bytes()},
        {"more-records.grf", TestArchive().add("data\\a.txt", "a").damage(Damage::addToRecordCount(5)).bytes()},
        {"legacy-short.grf", TestArchive().legacy().add("data\\a.txt", "a").damage(Damage::truncateFile(4)).bytes()},
    };
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> decodeSeeds() {
    // Four bytes of coding, two of name-area length, then the bytes to decode.
    const auto seed = [](uint32_t coding, uint16_t nameLength, std::vector<uint8_t> payload) {
        const uint8_t control[] = {uint8_t(coding),      uint8_t(coding >> 8), uint8_t(coding >> 16),
                                   uint8_t(coding >> 24), uint8_t(nameLength), uint8_t(nameLength >> 8)};
        payload.insert(payload.begin(), std::begin(control), std::end(control));
        return payload;
    };
    return {
        {"plain", seed(0, 128, sampleData(64, 1))},
        {"header-only", seed(1, 128 + 16, noiseData(200, 2))},
        {"mixed-3", seed(4, 128 + 21, noiseData(400, 3))},
        {"mixed-7", seed(8, 128 + 13, noiseData(1001, 4))},
        {"negative-name", seed(5, 100, noiseData(24, 5))},
        {"large-coding", seed(0xC0000010u, 128 + 259, noiseData(333, 6))},
    };
}

// Each layout the decoder takes, plain and run-length coded.
std::vector<std::pair<std::string, std::vector<uint8_t>>> tgaSeeds() {
    const TgaPicture picture = samplePicture(7, 5);
    const struct { const char* name; TgaLayout layout; } layouts[] = {
        {"rgb24", {TgaLayout::TRUE_COLOUR, 24}},
        {"rgba32-top-down", {TgaLayout::TRUE_COLOUR, 32, false, true}},
        {"rgb16-right-to-left", {TgaLayout::TRUE_COLOUR, 16, false, false, true}},
        {"grey", {TgaLayout::GREY, 8}},
        {"mapped", {TgaLayout::MAPPED, 8}},
    };
    std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
    for (const auto& l : layouts) {
        seeds.push_back({std::string(l.name) + ".tga", writeTga(picture, l.layout)});
        TgaLayout rle = l.layout;
        rle.rle = true;
        seeds.push_back({std::string(l.name) + "-rle.tga", writeTga(picture, rle)});
    }
    return seeds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    const struct {
        const char* dir;
        std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
    } sets[] = {{"archives", archiveSeeds()}, {"decode", decodeSeeds()}, {"tga", tgaSeeds()}};
    for (const auto& set : sets) {
        fs::create_directories(root / set.dir);
        for (const auto& [name, bytes] : set.seeds) writeSeed(root / set.dir, name, bytes);
    }
    return 0;
}
