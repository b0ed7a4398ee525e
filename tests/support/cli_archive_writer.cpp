#include "tests/support/cli_archive_writer.h"

#include <zlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

constexpr uint32_t HEADER_BYTES = 46;

void putU32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += char((value >> shift) & 0xFF);
}

}  // namespace

std::string compressForTest(const std::string& data, int level) {
    uLongf length = compressBound(uLong(data.size()));
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(data.data()),
                  uLong(data.size()), level) != Z_OK) {
        throw std::runtime_error("compress2 failed");
    }
    out.resize(length);
    return out;
}

CliArchiveWriter& CliArchiveWriter::add(const std::string& name, const std::string& data) {
    return addRaw(name, compressForTest(data), uint32_t(data.size()));
}

CliArchiveWriter& CliArchiveWriter::addRaw(const std::string& name, const std::string& stream, uint32_t originalSize) {
    items.push_back({name, stream, originalSize});
    return *this;
}

std::string CliArchiveWriter::bytes() const {
    std::string file("Master of Magic", 15);
    file += '\0';
    for (char fill = 1; fill <= 14; ++fill) file += fill;
    file.resize(HEADER_BYTES);

    std::string records;
    for (const Item& item : items) {
        const auto position = uint32_t(file.size());
        file += item.stream;
        records += item.name;
        records += '\0';
        putU32(records, uint32_t(item.stream.size()));
        putU32(records, uint32_t(item.stream.size()));
        putU32(records, item.originalSize);
        records += char(1);
        putU32(records, position - HEADER_BYTES);
    }
    const auto tablePosition = uint32_t(file.size());
    const std::string packed = compressForTest(records);
    putU32(file, uint32_t(packed.size()));
    putU32(file, uint32_t(records.size()));
    file += packed;

    std::string header;
    putU32(header, tablePosition - HEADER_BYTES);
    putU32(header, 0);
    putU32(header, uint32_t(items.size()) + 7);
    putU32(header, 0x200);
    file.replace(30, 16, header);
    return file;
}

void CliArchiveWriter::writeTo(const std::string& nativePath) const {
    writeFileBytes(nativePath, bytes());
}

std::string readFileBytes(const std::string& nativePath) {
    std::ifstream in(nativePath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& nativePath, const std::string& bytes) {
    std::ofstream out(nativePath, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}
