#include "archive/zip_entry_data.h"

#include <algorithm>

#include <libdeflate.h>
#include <zlib.h>

namespace kestrivon::archive {
namespace {

// Large blocks: fewer write calls, and inflate stays in its fast loop.
constexpr size_t kInputBufferSize = 256 * 1024;
constexpr size_t kOutputBufferSize = 1024 * 1024;

// libdeflate's CRC-32 folds with carry-less multiplication: several times zlib's speed.
uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t size) {
  return libdeflate_crc32(crc, data, size);
}

// An entry small enough is inflated in one call from memory into memory: libdeflate does that
// at about twice zlib's streaming speed, and the file gets one write. Larger entries stream, so
// that memory stays bounded whatever the archive holds.
std::expected<void, ZipError> InflateWhole(const ZipEntryData& data, const ZipReadFunction& read,
                                           const ZipWriteFunction& write,
                                           ZipExtractScratch& scratch) {
  std::vector<unsigned char>& input = scratch.input;
  std::vector<unsigned char>& output = scratch.output;
  const auto compressed = static_cast<size_t>(data.compressedSize);
  const auto size = static_cast<size_t>(data.uncompressedSize);
  // Never empty: libdeflate gets real pointers even for an empty entry.
  if (input.size() < compressed) input.resize(compressed);
  if (output.size() < size || output.empty()) output.resize(std::max<size_t>(size, 1));
  if (read(data.offset, input.data(), compressed) != compressed) {
    return std::unexpected(ZipError::ReadFailed);
  }
  if (!scratch.decompressor) {
    scratch.decompressor.reset(libdeflate_alloc_decompressor());
    if (!scratch.decompressor) return std::unexpected(ZipError::DataError);
  }
  size_t produced = 0;
  // The output ends at the declared size: a stream that would go beyond it stops there.
  switch (libdeflate_deflate_decompress(scratch.decompressor.get(), input.data(), compressed,
                                        output.data(), size, &produced)) {
    case LIBDEFLATE_SUCCESS:
      break;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
      return std::unexpected(ZipError::TooLong);
    default:
      return std::unexpected(ZipError::DataError);
  }
  if (produced != size) return std::unexpected(ZipError::SizeMismatch);
  if (Crc32(0, output.data(), size) != data.crc32) return std::unexpected(ZipError::CrcMismatch);
  if (size > 0 && write(output.data(), size) != size) return std::unexpected(ZipError::Stopped);
  return {};
}

std::expected<void, ZipError> CopyStored(const ZipEntryData& data, const ZipReadFunction& read,
                                         const ZipWriteFunction& write,
                                         std::vector<unsigned char>& buffer) {
  if (data.compressedSize > data.uncompressedSize) return std::unexpected(ZipError::TooLong);
  if (data.compressedSize < data.uncompressedSize) {
    return std::unexpected(ZipError::SizeMismatch);
  }
  uint32_t crc = Crc32(0, nullptr, 0);
  uint64_t left = data.compressedSize;
  uint64_t offset = data.offset;
  while (left > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    if (read(offset, buffer.data(), chunk) != chunk) return std::unexpected(ZipError::ReadFailed);
    crc = Crc32(crc, buffer.data(), chunk);
    if (write(buffer.data(), chunk) != chunk) return std::unexpected(ZipError::Stopped);
    offset += chunk;
    left -= chunk;
  }
  if (crc != data.crc32) return std::unexpected(ZipError::CrcMismatch);
  return {};
}

}  // namespace

struct ZipExtractScratch::Inflater {
  z_stream stream{};
  bool ready = false;

  bool Reset() {
    if (ready) return inflateReset(&stream) == Z_OK;
    stream = z_stream{};
    ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK;
    return ready;
  }

  ~Inflater() {
    if (ready) inflateEnd(&stream);
  }
};

void ZipExtractScratch::FreeDecompressor::operator()(libdeflate_decompressor* decompressor) const {
  libdeflate_free_decompressor(decompressor);
}

ZipExtractScratch::ZipExtractScratch() = default;
ZipExtractScratch::~ZipExtractScratch() = default;

std::expected<void, ZipError> StreamEntryData(const ZipEntryData& data, const ZipReadFunction& read,
                                              const ZipWriteFunction& write,
                                              ZipExtractScratch& scratch) {
  if (data.deflated && data.compressedSize > 0 && data.compressedSize <= scratch.wholeEntryLimit &&
      data.uncompressedSize <= scratch.wholeEntryLimit) {
    return InflateWhole(data, read, write, scratch);
  }
  std::vector<unsigned char>& input = scratch.input;
  std::vector<unsigned char>& output = scratch.output;
  if (input.size() < kInputBufferSize) input.resize(kInputBufferSize);
  if (output.size() < kOutputBufferSize) output.resize(kOutputBufferSize);
  if (!data.deflated) return CopyStored(data, read, write, output);

  if (!scratch.inflater) scratch.inflater = std::make_unique<ZipExtractScratch::Inflater>();
  if (!scratch.inflater->Reset()) return std::unexpected(ZipError::DataError);
  z_stream& stream = scratch.inflater->stream;

  uint32_t crc = Crc32(0, nullptr, 0);
  uint64_t produced = 0;
  uint64_t inputLeft = data.compressedSize;
  uint64_t inputOffset = data.offset;
  if (inputLeft == 0) {
    // Some writers store an empty file as a deflate entry without any data.
    if (data.uncompressedSize != 0) return std::unexpected(ZipError::SizeMismatch);
    if (data.crc32 != crc) return std::unexpected(ZipError::CrcMismatch);
    return {};
  }
  stream.next_in = nullptr;
  stream.avail_in = 0;
  for (;;) {
    if (stream.avail_in == 0 && inputLeft > 0) {
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(inputLeft, input.size()));
      if (read(inputOffset, input.data(), chunk) != chunk) {
        return std::unexpected(ZipError::ReadFailed);
      }
      stream.next_in = input.data();
      stream.avail_in = static_cast<uInt>(chunk);
      inputOffset += chunk;
      inputLeft -= chunk;
    }
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return std::unexpected(ZipError::DataError);

    const size_t have = output.size() - stream.avail_out;
    if (have > 0) {
      // Stop before a single byte beyond the declared size reaches the writer: a lying
      // entry must not fill the disk before its size is checked.
      if (have > data.uncompressedSize - produced) return std::unexpected(ZipError::TooLong);
      crc = Crc32(crc, output.data(), have);
      if (write(output.data(), have) != have) return std::unexpected(ZipError::Stopped);
      produced += have;
    }
    if (status == Z_STREAM_END) break;
  }
  if (produced != data.uncompressedSize) return std::unexpected(ZipError::SizeMismatch);
  if (crc != data.crc32) return std::unexpected(ZipError::CrcMismatch);
  return {};
}

}  // namespace kestrivon::archive
