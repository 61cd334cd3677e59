#pragma once

// A small ZIP reader on zlib: central directory (with ZIP64), stored and deflated entries,
// CRC-32 checked. Hostile input is expected: every offset and length is checked against the
// archive size, entries whose data overlap are refused, and an entry never yields more bytes
// than its declared size.
//
// One reader serves one thread at a time.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kestrivon::archive {

// Reads up to `size` bytes at `offset` into `buffer`; returns the count read (short only at
// the end of the archive or on error).
using ZipReadFunction = std::function<size_t(uint64_t offset, void* buffer, size_t size)>;

// Takes one block of an entry's data; returns the count taken. Anything less than `size`
// stops the extraction.
using ZipWriteFunction = std::function<size_t(const void* data, size_t size)>;

struct ZipEntryStat {
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
  uint32_t crc32 = 0;
};

enum class ZipError : uint8_t {
  BadIndex,
  Invalid,  // local header broken, name differs from the directory, data out of place
  Encrypted,
  Unsupported,  // compression method other than stored or deflate
  ReadFailed,
  DataError,     // the deflate stream is corrupt or ends early
  TooLong,       // the data would exceed the declared uncompressed size
  SizeMismatch,  // the data ended short of the declared size
  CrcMismatch,
  Stopped,  // the write function took less than it was given
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

 private:
  struct Entry;
  struct Inflater;

  bool ReadExact(uint64_t offset, void* buffer, size_t size) const;
  bool ReadEndRecords(uint64_t& cdOffset, uint64_t& cdSize, uint64_t& cdLimit);
  bool ReadCentralDirectory(uint64_t cdOffset, uint64_t cdSize);
  static bool ApplyZip64Extra(const unsigned char* extra, uint16_t extraLength, Entry& entry);
  bool CheckDataRanges(uint64_t cdOffset, uint64_t cdSize);
  std::expected<void, ZipError> CopyStored(const Entry& entry, uint64_t dataOffset,
                                           const ZipWriteFunction& write);
  std::expected<void, ZipError> Inflate(const Entry& entry, uint64_t dataOffset,
                                        const ZipWriteFunction& write);

  ZipReadFunction read_;
  uint64_t archiveSize_ = 0;
  uint64_t entryCount_ = 0;
  std::vector<Entry> entries_;
  // Reused by every extraction: one inflate state and one pair of buffers.
  std::unique_ptr<Inflater> inflater_;
  std::vector<unsigned char> input_;
  std::vector<unsigned char> output_;
  std::vector<char> nameScratch_;
};

}  // namespace kestrivon::archive
