#pragma once

// Writes ZIP archives that are the same bytes for the same input: the caller adds entries in
// a fixed order, and every header carries the same time stamp, attributes and flags. ZIP64
// records are written only where a size, an offset or the entry count needs them.

#include <cstdint>
#include <expected>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kestrivon::publish {

// 1980-01-01 00:00, the earliest time a ZIP header can hold.
inline constexpr uint16_t kZipDosDate = (1 << 5) | 1;
inline constexpr uint16_t kZipDosTime = 0;

// (bytes of the current entry read so far)
using PackProgress = std::function<void(uint64_t bytes)>;

// One file's entry data, encoded ahead in memory (on another thread) by PrepareEntry.
struct PreparedEntry {
  uint16_t method = 0;
  uint32_t crc32 = 0;
  uint64_t size = 0;  // uncompressed
  std::string data{};
};

// Reads `size` bytes of `data` and encodes them as AddFile would.
std::expected<PreparedEntry, std::string> PrepareEntry(std::string_view name, std::istream& data,
                                                       uint64_t size);

class ZipPacker {
 public:
  // `out` must be seekable: each local header is completed once its data is written.
  explicit ZipPacker(std::ostream& out) : out_(out) {}

  // `name` is the entry path without a trailing '/'.
  std::expected<void, std::string> AddDirectory(std::string_view name);

  // Deflates `size` bytes of `data`; stores them instead when deflating gains nothing or
  // would give a ratio the updater's extractor refuses. `data` must be seekable too.
  std::expected<void, std::string> AddFile(std::string_view name, std::istream& data, uint64_t size,
                                           const PackProgress& progress = {});

  // Writes an entry encoded by PrepareEntry: the same bytes AddFile writes.
  std::expected<void, std::string> AddPrepared(std::string_view name,
                                               const PreparedEntry& prepared);

  // The central directory and the end records. Nothing may be added afterwards.
  std::expected<void, std::string> Finish();

 private:
  struct Record {
    std::string name{};
    bool directory = false;
    uint16_t method = 0;
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t localOffset = 0;
    bool zip64Local = false;  // the local header has a ZIP64 extra field
  };

  std::expected<void, std::string> WriteLocalHeader(const Record& record);
  std::expected<void, std::string> WriteData(Record& record, std::istream& data, uint64_t size,
                                             uint16_t method, const PackProgress& progress);
  std::expected<void, std::string> Put(std::string_view bytes);

  std::ostream& out_;
  std::vector<Record> records_;
  uint64_t offset_ = 0;
};

}  // namespace kestrivon::publish
