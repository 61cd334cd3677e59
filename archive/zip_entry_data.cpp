#include "archive/zip_entry_data.h"

#include <algorithm>

#include <zlib.h>

namespace kestrivon::archive {
namespace {

// Large blocks: fewer write calls, and inflate stays in its fast loop.
constexpr size_t kInputBufferSize = 256 * 1024;
constexpr size_t kOutputBufferSize = 1024 * 1024;

uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t size) {
  while (size > 0) {
    const uInt chunk = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    crc = static_cast<uint32_t>(crc32(crc, data, chunk));
    data += chunk;
    size -= chunk;
  }
  return crc;
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

ZipExtractScratch::ZipExtractScratch() = default;
ZipExtractScratch::~ZipExtractScratch() = default;

std::expected<void, ZipError> StreamEntryData(const ZipEntryData& data, const ZipReadFunction& read,
                                              const ZipWriteFunction& write,
                                              ZipExtractScratch& scratch) {
  std::vector<unsigned char>& input = scratch.input;
  std::vector<unsigned char>& output = scratch.output;
  if (input.empty()) input.resize(kInputBufferSize);
  if (output.empty()) output.resize(kOutputBufferSize);
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
