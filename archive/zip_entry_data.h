#pragma once

// One entry's data out of a ZIP archive, stored or deflated, streamed or (when small) inflated
// whole: never a byte beyond the declared size reaches the writer, and the size and CRC-32 are
// checked. The ZIP reader finds the data and checks the entry's headers first.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <vector>

struct libdeflate_decompressor;

namespace kestrivon::archive {

// Reads up to `size` bytes at `offset` into `buffer`; returns the count read (short only at
// the end of the archive or on error).
using ZipReadFunction = std::function<size_t(uint64_t offset, void* buffer, size_t size)>;

// Takes one block of an entry's data; returns the count taken. Anything less than `size`
// stops the extraction.
using ZipWriteFunction = std::function<size_t(const void* data, size_t size)>;

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

// What one extraction at a time needs: the inflaters and their buffers (about 1.3 MiB, or two
// whole entries of up to `wholeEntryLimit` each if larger). Threads that extract at once need
// one each.
struct ZipExtractScratch {
  static constexpr uint64_t kWholeEntryLimit = 2 * 1024 * 1024;

  ZipExtractScratch();
  ~ZipExtractScratch();
  ZipExtractScratch(const ZipExtractScratch&) = delete;
  ZipExtractScratch& operator=(const ZipExtractScratch&) = delete;

  struct Inflater;
  std::unique_ptr<Inflater> inflater;  // streams entries larger than the limit
  struct FreeDecompressor {
    void operator()(libdeflate_decompressor* decompressor) const;
  };
  std::unique_ptr<libdeflate_decompressor, FreeDecompressor> decompressor;
  // Deflated entries up to this size, both ways, are inflated whole (0: every entry streams).
  uint64_t wholeEntryLimit = kWholeEntryLimit;
  std::vector<unsigned char> input;
  std::vector<unsigned char> output;
  std::vector<char> names;  // the reader's, for comparing an entry's two names
};

// Where an entry's data lies in the archive and what it must turn into.
struct ZipEntryData {
  uint64_t offset = 0;  // of the first byte, already known to lie inside the archive
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint32_t crc32 = 0;
  bool deflated = false;  // else stored
};

std::expected<void, ZipError> StreamEntryData(const ZipEntryData& data, const ZipReadFunction& read,
                                              const ZipWriteFunction& write,
                                              ZipExtractScratch& scratch);

}  // namespace kestrivon::archive
