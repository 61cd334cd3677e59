#pragma once

// A small ZIP reader on zlib: central directory (with ZIP64), stored and deflated entries,
// CRC-32 checked. Hostile input is expected: every offset and length is checked against the
// archive size, entries whose data overlap are refused, and an entry never yields more bytes
// than its declared size.
//
// Opening and the directory calls serve one thread at a time. Once open, any number of
// threads may extract at once, each with its own ZipExtractScratch and read function.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "archive/zip_entry_data.h"

namespace kestrivon::archive {

struct ZipEntryStat {
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
  uint32_t crc32 = 0;
};

class ZipReader {
 public:
  // The caller's name buffer size, terminator included; longer names are cut.
  static constexpr size_t kNameBufferSize = 2048;
  static constexpr uint64_t kDefaultMaxIndexedEntries = 100'000;

  ZipReader();
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Reads and checks the end records and the central directory. An archive that declares
  // more than `maxIndexedEntries` entries opens with its count only, so that the caller can
  // refuse it by count without the reader indexing millions of entries first; its entries
  // cannot be read. False for anything that is not a usable ZIP archive.
  bool Open(ZipReadFunction read, uint64_t archiveSize,
            uint64_t maxIndexedEntries = kDefaultMaxIndexedEntries);
  void Close();

  uint64_t EntryCount() const { return entryCount_; }

  // Copies the name into `buffer`, cut to buffer.size() - 1 bytes and terminated; returns its
  // length, or nothing when it cannot be read.
  std::optional<size_t> EntryName(uint64_t index, std::span<char> buffer) const;

  // A trailing '/' or, for entries made on DOS or Windows, the directory attribute.
  bool IsDirectory(uint64_t index) const;

  std::optional<ZipEntryStat> Stat(uint64_t index) const;

  // Streams the entry's data to `write` in blocks; checks the CRC-32 and the size.
  std::expected<void, ZipError> Extract(uint64_t index, const ZipWriteFunction& write);
  // The same with the caller's scratch, reading the archive through `read` (which must read
  // the same bytes as the one given to Open): safe on several threads at once.
  std::expected<void, ZipError> Extract(uint64_t index, const ZipWriteFunction& write,
                                        ZipExtractScratch& scratch,
                                        const ZipReadFunction& read) const;

 private:
  struct Entry;

  bool ReadExact(uint64_t offset, void* buffer, size_t size) const {
    return ReadExact(read_, offset, buffer, size);
  }
  bool ReadExact(const ZipReadFunction& read, uint64_t offset, void* buffer, size_t size) const;
  bool ReadEndRecords(uint64_t& cdOffset, uint64_t& cdSize, uint64_t& cdLimit);
  bool ReadCentralDirectory(uint64_t cdOffset, uint64_t cdSize);
  static bool ApplyZip64Extra(const unsigned char* extra, uint16_t extraLength, Entry& entry);
  bool CheckDataRanges(uint64_t cdOffset, uint64_t cdSize);

  ZipReadFunction read_;
  uint64_t archiveSize_ = 0;
  uint64_t entryCount_ = 0;
  std::vector<Entry> entries_;
  ZipExtractScratch scratch_;  // reused by every extraction through the reader's own read
};

}  // namespace kestrivon::archive
