#pragma once

// Builds ZIP archives in memory for tests, honest or hostile: any name bytes, sizes and CRCs
// that lie, ZIP64 records, entries that point into each other, flags and methods the reader
// must refuse. Large declared sizes cost nothing: only the given bytes are written.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrivon::test_support {

inline constexpr uint16_t kStored = 0;
inline constexpr uint16_t kDeflated = 8;
inline constexpr uint16_t kMadeOnUnix = (3 << 8) | 20;
inline constexpr uint16_t kMadeOnDos = (0 << 8) | 20;

struct ZipWriterEntry {
  std::string name{};  // raw bytes, as stored
  std::string data{};  // the uncompressed content
  uint16_t method = kDeflated;
  int level = 6;
  // Written as the entry's data instead of data compressed by `method`.
  std::optional<std::string> rawData{};
  std::optional<uint64_t> compressedSize{};    // declared instead of the real one
  std::optional<uint64_t> uncompressedSize{};  // declared instead of the real one
  std::optional<uint32_t> crc32{};             // declared instead of the real one
  uint16_t flags = 0;                          // bit 3: sizes and CRC in a data descriptor
  std::optional<std::string> localName{};      // the local header's name, when it differs
  std::string localExtra{};                    // extra field bytes of the local header only
  uint16_t versionMadeBy = kMadeOnUnix;
  uint32_t externalAttributes = 0;
  bool zip64 = false;  // sizes and offset in ZIP64 extra fields
  // The offset the central record claims for the local header, when it lies.
  std::optional<uint64_t> localHeaderOffset{};
};

class ZipWriter {
 public:
  ZipWriter& Add(ZipWriterEntry entry);
  ZipWriter& AddFile(std::string name, std::string data, uint16_t method = kDeflated);
  ZipWriter& AddDirectory(std::string name);

  // ZIP64 end record and locator (always written beyond 65,535 entries).
  ZipWriter& Zip64End(bool on = true);
  ZipWriter& Comment(std::string comment);
  // Declared entry count instead of the real one.
  ZipWriter& DeclaredCount(uint64_t count);

  std::string Build() const;
  bool WriteTo(const std::filesystem::path& path) const;

 private:
  std::vector<ZipWriterEntry> entries_;
  bool zip64End_ = false;
  std::string comment_;
  std::optional<uint64_t> declaredCount_;
};

// Raw deflate (no zlib header), as ZIP stores it.
std::string Deflate(std::string_view data, int level = 6);
uint32_t Crc32(std::string_view data);

}  // namespace kestrivon::test_support
