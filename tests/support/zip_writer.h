#pragma once

// Builds ZIP archives in memory for tests, honest or hostile: any name bytes, lying sizes, CRCs
// and names, ZIP64 records, flags and methods to refuse; only the given bytes are written.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrivon::testing {

inline constexpr uint16_t kStored = 0;
inline constexpr uint16_t kDeflated = 8;

struct ZipWriterEntry {
  std::string name{};  // raw bytes, as stored
  std::string data{};  // the uncompressed content
  uint16_t method = kDeflated;
  // Declared instead of the real values.
  std::optional<uint64_t> compressedSize{};
  std::optional<uint64_t> uncompressedSize{};
  std::optional<uint32_t> crc32{};
  uint16_t flags = 0;
  std::optional<std::string> localName{};  // the local header's name, when it differs
  uint16_t versionMadeBy = (3 << 8) | 20;  // Unix
  uint32_t externalAttributes = 0;
  bool zip64 = false;  // sizes and offset in ZIP64 extra fields
};

struct ZipWriter {
  bool zip64End = false;  // ZIP64 end record and locator (always written beyond 65,535 entries)
  std::string comment{};
  std::string prefix{};  // before the first entry, counted in every offset, as a stub would be
  std::vector<ZipWriterEntry> entries{};

  ZipWriter& Add(ZipWriterEntry entry) {
    entries.push_back(std::move(entry));
    return *this;
  }
  ZipWriter& AddFile(std::string name, std::string data, uint16_t method = kDeflated) {
    return Add({.name = std::move(name), .data = std::move(data), .method = method});
  }
  ZipWriter& AddDirectory(std::string name) { return AddFile(std::move(name), "", kStored); }

  std::string Build() const;
  bool WriteTo(const std::filesystem::path& path) const;
};

// Text that deflates about 16 to 1: well, but far from the ratio the extractor refuses.
std::string Text(size_t size);

}  // namespace kestrivon::testing
