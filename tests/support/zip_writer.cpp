#include "tests/support/zip_writer.h"

#include <fstream>
#include <string_view>
#include <utility>

#include <zlib.h>

namespace kestrivon::testing {
namespace {

constexpr uint64_t kAll32 = 0xFFFFFFFF;

// Little-endian fields, given as pairs of width in bytes and value.
void Put(std::string&) {}
template <typename... Rest>
void Put(std::string& out, int width, uint64_t value, Rest... rest) {
  for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  Put(out, rest...);
}

// Raw deflate, as ZIP stores it: zlib's format less its 2-byte header and 4-byte checksum.
// With the bound as the buffer's size, only a lack of memory could make it fail.
std::string Deflate(std::string_view data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
           static_cast<uLong>(data.size()));
  return out.substr(2, size - 6);
}

}  // namespace

std::string Text(size_t size) {
  std::string out;
  for (size_t line = 0; out.size() < size; ++line) {
    out += "line " + std::to_string(line) + " of some fairly repetitive text\n";
  }
  out.resize(size);
  return out;
}

std::string ZipWriter::Build() const {
  std::string out = prefix;
  std::string central;
  for (const ZipWriterEntry& entry : entries) {
    const uint64_t offset = out.size();
    const std::string payload = entry.method == kDeflated ? Deflate(entry.data) : entry.data;
    const uint32_t crc = entry.crc32.value_or(
        crc32_z(0, reinterpret_cast<const Bytef*>(entry.data.data()), entry.data.size()));
    const uint64_t compressed = entry.compressedSize.value_or(payload.size());
    const uint64_t uncompressed = entry.uncompressedSize.value_or(entry.data.size());
    const std::string& localName = entry.localName ? *entry.localName : entry.name;

    // The fields both headers share, from "version needed" to the extra field's length; the
    // time and date are 1980-01-01 00:00.
    auto header = [&](std::string& to, size_t nameSize, size_t extraSize) {
      Put(to, 2, entry.zip64 ? 45u : 20u, 2, entry.flags, 2, entry.method, 4, 0x00210000, 4, crc, 4,
          entry.zip64 ? kAll32 : compressed, 4, entry.zip64 ? kAll32 : uncompressed, 2, nameSize, 2,
          extraSize);
    };

    std::string extra;
    if (entry.zip64) Put(extra, 2, 0x0001, 2, 16, 8, uncompressed, 8, compressed);
    Put(out, 4, 0x04034b50);
    header(out, localName.size(), extra.size());
    out += localName + extra + payload;

    extra.clear();
    if (entry.zip64) Put(extra, 2, 0x0001, 2, 24, 8, uncompressed, 8, compressed, 8, offset);
    Put(central, 4, 0x02014b50, 2, entry.versionMadeBy);
    header(central, entry.name.size(), extra.size());
    // Comment length, disk and internal attributes, then the rest.
    Put(central, 6, 0, 4, entry.externalAttributes, 4, entry.zip64 ? kAll32 : offset);
    central += entry.name + extra;
  }

  const uint64_t cdOffset = out.size();
  const uint64_t count = entries.size();
  const bool zip64 = zip64End || count > 0xFFFF;
  out += central;
  if (zip64) {
    // The record (size of its rest, versions, disks, counts, directory), then its locator.
    const uint64_t record = out.size();
    Put(out, 4, 0x06064b50, 8, 44, 4, (45 << 16) | 45, 8, 0, 8, count, 8, count, 8, central.size(),
        8, cdOffset, 4, 0x07064b50, 4, 0, 8, record, 4, 1);
  }
  Put(out, 4, 0x06054b50, 4, 0, 2, zip64 ? 0xFFFF : count, 2, zip64 ? 0xFFFF : count, 4,
      zip64 ? kAll32 : central.size(), 4, zip64 ? kAll32 : cdOffset, 2, comment.size());
  return out + comment;
}

bool ZipWriter::WriteTo(const std::filesystem::path& path) const {
  return static_cast<bool>(std::ofstream(path, std::ios::binary) << Build() << std::flush);
}

}  // namespace kestrivon::testing
