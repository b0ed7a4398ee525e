#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Builds small current-generation archives for the command-line tests, entry by entry,
// including entries no sound writer would make (damaged streams, unsafe names).
class CliArchiveWriter {
public:
    // An entry whose data are `data` compressed at level 6.
    CliArchiveWriter& add(const std::string& name, const std::string& data);
    // An entry whose stored stream is `stream` as given, claiming `originalSize`.
    CliArchiveWriter& addRaw(const std::string& name, const std::string& stream, uint32_t originalSize);

    // The whole file: header, data back to back from position 46, then the table.
    std::string bytes() const;
    void writeTo(const std::string& nativePath) const;

private:
    struct Item {
        std::string name;
        std::string stream;
        uint32_t originalSize;
    };
    std::vector<Item> items;
};

std::string compressForTest(const std::string& data, int level = 6);
std::string readFileBytes(const std::string& nativePath);
void writeFileBytes(const std::string& nativePath, const std::string& bytes);
