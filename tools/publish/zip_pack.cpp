#include "tools/publish/zip_pack.h"

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <memory>

#include <fmt/format.h>

#include "archive/extract_limits.h"
#include "archive/zip_format.h"

namespace kestrivon::publish {
namespace {

namespace zip = archive::zip;

constexpr uint16_t kVersion20 = 20;
constexpr uint16_t kVersion45 = 45;  // ZIP64
constexpr uint16_t kUtf8Flag = 0x0800;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kMax32 = 0xFFFFFFFF;
constexpr uint16_t kMax16 = 0xFFFF;
// Below this an entry's deflated size cannot reach 4 GiB, so its local header needs no ZIP64
// field (deflate grows incompressible data by well under 1%).
constexpr uint64_t kZip64LocalThreshold = 0xF0000000;
constexpr size_t kBufferSize = size_t{1} << 20;

void Put16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void Put32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

void Put64(std::string& out, uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

uint32_t Clamp32(uint64_t value) { return value >= kMax32 ? kMax32 : static_cast<uint32_t>(value); }

class Deflater {
 public:
  Deflater() {
    ok_ = deflateInit2(&stream_, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Deflater() {
    if (ok_) deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  bool ok() const { return ok_; }

  // Compresses one block (the last one with `finish`) and hands every output block to `put`.
  template <typename Put>
  bool Feed(const unsigned char* data, size_t size, bool finish, unsigned char* out, size_t outSize,
            Put&& put) {
    stream_.next_in = const_cast<unsigned char*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    int status = Z_OK;
    do {
      stream_.next_out = out;
      stream_.avail_out = static_cast<uInt>(outSize);
      status = deflate(&stream_, finish ? Z_FINISH : Z_NO_FLUSH);
      if (status == Z_STREAM_ERROR) return false;
      if (!put(out, outSize - stream_.avail_out)) return false;
    } while (stream_.avail_out == 0 || (finish && status != Z_STREAM_END));
    return true;
  }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

struct Encoded {
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
};

// Reads exactly `size` bytes of `data` and hands them, deflated or stored, to `put`.
std::expected<Encoded, std::string> Encode(
    std::string_view name, std::istream& data, uint64_t size, uint16_t method,
    const PackProgress& progress, const std::function<bool(const unsigned char*, size_t)>& put) {
  // Small files get small buffers: a runtime has thousands of them.
  const size_t bufferSize = static_cast<size_t>(std::clamp<uint64_t>(size, 4096, kBufferSize));
  auto in = std::make_unique<unsigned char[]>(bufferSize);
  auto out = std::make_unique<unsigned char[]>(bufferSize);
  Deflater deflater;
  if (method == zip::kMethodDeflate && !deflater.ok()) {
    return std::unexpected("zlib failed to start");
  }
  Encoded encoded;
  const auto counted = [&](const unsigned char* bytes, size_t count) {
    encoded.compressedSize += count;
    return put(bytes, count);
  };
  uLong crc = crc32(0, nullptr, 0);
  uint64_t done = 0;
  while (true) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(bufferSize, size - done));
    data.read(reinterpret_cast<char*>(in.get()), static_cast<std::streamsize>(want));
    const size_t got = static_cast<size_t>(data.gcount());
    if (got != want) return std::unexpected(fmt::format("{} changed while it was packed", name));
    crc = crc32(crc, in.get(), static_cast<uInt>(got));
    done += got;
    const bool last = done == size;
    const bool fed = method == zip::kMethodDeflate
                         ? deflater.Feed(in.get(), got, last, out.get(), bufferSize, counted)
                         : counted(in.get(), got);
    if (!fed) return std::unexpected("write error");
    if (progress) progress(done);
    if (last) break;
  }
  encoded.crc32 = static_cast<uint32_t>(crc);
  return encoded;
}

bool RatioRefused(uint64_t size, uint64_t compressedSize) {
  return compressedSize != 0 && size / compressedSize > archive::kMaxCompressionRatio;
}

}  // namespace

std::expected<PreparedEntry, std::string> PrepareEntry(std::string_view name, std::istream& data,
                                                       uint64_t size) {
  PreparedEntry prepared{.method = size == 0 ? zip::kMethodStored : zip::kMethodDeflate,
                         .size = size};
  const auto append = [&prepared](const unsigned char* bytes, size_t count) {
    prepared.data.append(reinterpret_cast<const char*>(bytes), count);
    return true;
  };
  auto encoded = Encode(name, data, size, prepared.method, {}, append);
  if (encoded && RatioRefused(size, encoded->compressedSize)) {
    data.clear();
    data.seekg(0);
    prepared.method = zip::kMethodStored;
    prepared.data.clear();
    encoded = Encode(name, data, size, zip::kMethodStored, {}, append);
  }
  if (!encoded) return std::unexpected(std::move(encoded.error()));
  prepared.crc32 = encoded->crc32;
  return prepared;
}

std::expected<void, std::string> ZipPacker::Put(std::string_view bytes) {
  if (!out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    return std::unexpected("write error");
  }
  offset_ += bytes.size();
  return {};
}

std::expected<void, std::string> ZipPacker::WriteLocalHeader(const Record& record) {
  std::string header;
  Put32(header, zip::kLocalHeaderSignature);
  Put16(header, record.zip64Local ? kVersion45 : kVersion20);
  Put16(header, kUtf8Flag);
  Put16(header, record.method);
  Put16(header, kZipDosTime);
  Put16(header, kZipDosDate);
  Put32(header, record.crc32);
  Put32(header, record.zip64Local ? kMax32 : static_cast<uint32_t>(record.compressedSize));
  Put32(header, record.zip64Local ? kMax32 : static_cast<uint32_t>(record.uncompressedSize));
  Put16(header, static_cast<uint16_t>(record.name.size()));
  Put16(header, record.zip64Local ? 20 : 0);
  header += record.name;
  if (record.zip64Local) {
    Put16(header, zip::kZip64ExtraId);
    Put16(header, 16);
    Put64(header, record.uncompressedSize);
    Put64(header, record.compressedSize);
  }
  return Put(header);
}

std::expected<void, std::string> ZipPacker::AddDirectory(std::string_view name) {
  Record record{.name = std::string(name) + "/", .directory = true, .localOffset = offset_};
  if (record.name.size() > kMax16) return std::unexpected(fmt::format("name too long: {}", name));
  if (auto written = WriteLocalHeader(record); !written) return written;
  records_.push_back(std::move(record));
  return {};
}

std::expected<void, std::string> ZipPacker::WriteData(Record& record, std::istream& data,
                                                      uint64_t size, uint16_t method,
                                                      const PackProgress& progress) {
  auto encoded = Encode(
      record.name, data, size, method, progress, [this](const unsigned char* bytes, size_t count) {
        return Put(std::string_view(reinterpret_cast<const char*>(bytes), count)).has_value();
      });
  if (!encoded) return std::unexpected(std::move(encoded.error()));
  record.method = method;
  record.crc32 = encoded->crc32;
  record.compressedSize = encoded->compressedSize;
  return {};
}

std::expected<void, std::string> ZipPacker::AddFile(std::string_view name, std::istream& data,
                                                    uint64_t size, const PackProgress& progress) {
  Record record{.name = std::string(name), .uncompressedSize = size, .localOffset = offset_};
  if (record.name.size() > kMax16) return std::unexpected(fmt::format("name too long: {}", name));
  record.zip64Local = size >= kZip64LocalThreshold;
  if (auto written = WriteLocalHeader(record); !written) return written;
  const uint64_t dataOffset = offset_;

  auto packed =
      WriteData(record, data, size, size == 0 ? zip::kMethodStored : zip::kMethodDeflate, progress);
  if (packed && record.method == zip::kMethodDeflate && RatioRefused(size, record.compressedSize)) {
    // The updater refuses such a ratio as a likely bomb: store the bytes instead. Stored data
    // is longer than the deflated data it overwrites, so nothing stale is left behind.
    data.clear();
    data.seekg(0);
    out_.seekp(static_cast<std::streamoff>(dataOffset));
    offset_ = dataOffset;
    packed = WriteData(record, data, size, zip::kMethodStored, progress);
  }
  if (!packed) return packed;

  // Complete the local header now that the CRC and the sizes are known.
  const uint64_t end = offset_;
  out_.seekp(static_cast<std::streamoff>(record.localOffset));
  offset_ = record.localOffset;
  if (auto written = WriteLocalHeader(record); !written) return written;
  out_.seekp(static_cast<std::streamoff>(end));
  offset_ = end;
  if (!out_) return std::unexpected("write error");
  records_.push_back(std::move(record));
  return {};
}

std::expected<void, std::string> ZipPacker::AddPrepared(std::string_view name,
                                                        const PreparedEntry& prepared) {
  Record record{.name = std::string(name),
                .method = prepared.method,
                .crc32 = prepared.crc32,
                .compressedSize = prepared.data.size(),
                .uncompressedSize = prepared.size,
                .localOffset = offset_,
                .zip64Local = prepared.size >= kZip64LocalThreshold};
  if (record.name.size() > kMax16) return std::unexpected(fmt::format("name too long: {}", name));
  if (auto written = WriteLocalHeader(record); !written) return written;
  if (auto written = Put(prepared.data); !written) return written;
  records_.push_back(std::move(record));
  return {};
}

std::expected<void, std::string> ZipPacker::Finish() {
  const uint64_t directoryOffset = offset_;
  for (const Record& record : records_) {
    std::string extra;
    if (record.uncompressedSize >= kMax32) Put64(extra, record.uncompressedSize);
    if (record.compressedSize >= kMax32) Put64(extra, record.compressedSize);
    if (record.localOffset >= kMax32) Put64(extra, record.localOffset);
    const bool zip64 = !extra.empty();
    std::string header;
    Put32(header, zip::kCentralHeaderSignature);
    Put16(header, zip64 ? kVersion45 : kVersion20);  // made by: MS-DOS
    Put16(header, zip64 ? kVersion45 : kVersion20);
    Put16(header, kUtf8Flag);
    Put16(header, record.method);
    Put16(header, kZipDosTime);
    Put16(header, kZipDosDate);
    Put32(header, record.crc32);
    Put32(header, Clamp32(record.compressedSize));
    Put32(header, Clamp32(record.uncompressedSize));
    Put16(header, static_cast<uint16_t>(record.name.size()));
    Put16(header, static_cast<uint16_t>(zip64 ? extra.size() + 4 : 0));
    Put16(header, 0);  // comment
    Put16(header, 0);  // disk
    Put16(header, 0);  // internal attributes
    Put32(header, record.directory ? kDosDirectory : 0);
    Put32(header, Clamp32(record.localOffset));
    header += record.name;
    if (zip64) {
      Put16(header, zip::kZip64ExtraId);
      Put16(header, static_cast<uint16_t>(extra.size()));
      header += extra;
    }
    if (auto written = Put(header); !written) return written;
  }
  const uint64_t directorySize = offset_ - directoryOffset;
  const uint64_t count = records_.size();

  std::string end;
  if (count >= kMax16 || directoryOffset >= kMax32 || directorySize >= kMax32) {
    const uint64_t zip64EndOffset = offset_;
    Put32(end, zip::kZip64EndSignature);
    Put64(end, 44);  // the record's size after this field
    Put16(end, kVersion45);
    Put16(end, kVersion45);
    Put32(end, 0);
    Put32(end, 0);
    Put64(end, count);
    Put64(end, count);
    Put64(end, directorySize);
    Put64(end, directoryOffset);
    Put32(end, zip::kZip64LocatorSignature);
    Put32(end, 0);
    Put64(end, zip64EndOffset);
    Put32(end, 1);
  }
  const uint16_t shortCount = count >= kMax16 ? kMax16 : static_cast<uint16_t>(count);
  Put32(end, zip::kEndSignature);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, shortCount);
  Put16(end, shortCount);
  Put32(end, Clamp32(directorySize));
  Put32(end, Clamp32(directoryOffset));
  Put16(end, 0);  // comment
  if (auto written = Put(end); !written) return written;
  if (!out_.flush()) return std::unexpected("write error");
  return {};
}

}  // namespace kestrivon::publish
