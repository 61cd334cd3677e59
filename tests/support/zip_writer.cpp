#include "tests/support/zip_writer.h"

#include <fstream>
#include <stdexcept>

#include <zlib.h>

namespace kestrivon::test_support {
namespace {

constexpr uint32_t kAll32 = 0xFFFFFFFF;

void Put16(std::string& out, uint64_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint64_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, (value >> 16) & 0xFFFF);
}

void Put64(std::string& out, uint64_t value) {
  Put32(out, value & kAll32);
  Put32(out, value >> 32);
}

}  // namespace

std::string Deflate(std::string_view data, int level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

uint32_t Crc32(std::string_view data) {
  return static_cast<uint32_t>(crc32(crc32(0, nullptr, 0),
                                     reinterpret_cast<const Bytef*>(data.data()),
                                     static_cast<uInt>(data.size())));
}

ZipWriter& ZipWriter::Add(ZipWriterEntry entry) {
  entries_.push_back(std::move(entry));
  return *this;
}

ZipWriter& ZipWriter::AddFile(std::string name, std::string data, uint16_t method) {
  return Add({.name = std::move(name), .data = std::move(data), .method = method});
}

ZipWriter& ZipWriter::AddDirectory(std::string name) {
  return Add({.name = std::move(name), .method = kStored});
}

ZipWriter& ZipWriter::Zip64End(bool on) {
  zip64End_ = on;
  return *this;
}

ZipWriter& ZipWriter::Comment(std::string comment) {
  comment_ = std::move(comment);
  return *this;
}

ZipWriter& ZipWriter::DeclaredCount(uint64_t count) {
  declaredCount_ = count;
  return *this;
}

std::string ZipWriter::Build() const {
  std::string out;
  std::string central;
  for (const ZipWriterEntry& entry : entries_) {
    const uint64_t offset = out.size();
    const std::string payload = entry.rawData               ? *entry.rawData
                                : entry.method == kDeflated ? Deflate(entry.data, entry.level)
                                                            : entry.data;
    const uint32_t crc = entry.crc32.value_or(Crc32(entry.data));
    const uint64_t compressed = entry.compressedSize.value_or(payload.size());
    const uint64_t uncompressed = entry.uncompressedSize.value_or(entry.data.size());
    const std::string& localName = entry.localName ? *entry.localName : entry.name;
    const bool descriptor = (entry.flags & 0x0008) != 0;
    const uint16_t needed = entry.zip64 ? 45 : 20;

    std::string localExtra;
    if (entry.zip64) {
      Put16(localExtra, 0x0001);
      Put16(localExtra, 16);
      Put64(localExtra, descriptor ? 0 : uncompressed);
      Put64(localExtra, descriptor ? 0 : compressed);
    }
    localExtra += entry.localExtra;
    Put32(out, 0x04034b50);
    Put16(out, needed);
    Put16(out, entry.flags);
    Put16(out, entry.method);
    Put16(out, 0);     // time
    Put16(out, 0x21);  // 1980-01-01
    Put32(out, descriptor ? 0 : crc);
    Put32(out, entry.zip64 ? kAll32 : descriptor ? 0 : compressed);
    Put32(out, entry.zip64 ? kAll32 : descriptor ? 0 : uncompressed);
    Put16(out, localName.size());
    Put16(out, localExtra.size());
    out += localName;
    out += localExtra;
    out += payload;
    if (descriptor) {
      Put32(out, 0x08074b50);
      Put32(out, crc);
      if (entry.zip64) {
        Put64(out, compressed);
        Put64(out, uncompressed);
      } else {
        Put32(out, compressed);
        Put32(out, uncompressed);
      }
    }

    const uint64_t localOffset = entry.localHeaderOffset.value_or(offset);
    std::string extra;
    if (entry.zip64) {
      Put16(extra, 0x0001);
      Put16(extra, 24);
      Put64(extra, uncompressed);
      Put64(extra, compressed);
      Put64(extra, localOffset);
    }
    Put32(central, 0x02014b50);
    Put16(central, entry.versionMadeBy);
    Put16(central, needed);
    Put16(central, entry.flags);
    Put16(central, entry.method);
    Put16(central, 0);
    Put16(central, 0x21);
    Put32(central, crc);
    Put32(central, entry.zip64 ? kAll32 : compressed);
    Put32(central, entry.zip64 ? kAll32 : uncompressed);
    Put16(central, entry.name.size());
    Put16(central, extra.size());
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, entry.externalAttributes);
    Put32(central, entry.zip64 ? kAll32 : localOffset);
    central += entry.name;
    central += extra;
  }

  const uint64_t cdOffset = out.size();
  const uint64_t cdSize = central.size();
  const uint64_t count = declaredCount_.value_or(entries_.size());
  out += central;
  const bool zip64End = zip64End_ || count > 0xFFFF;
  if (zip64End) {
    const uint64_t recordOffset = out.size();
    Put32(out, 0x06064b50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, count);
    Put64(out, count);
    Put64(out, cdSize);
    Put64(out, cdOffset);
    Put32(out, 0x07064b50);
    Put32(out, 0);
    Put64(out, recordOffset);
    Put32(out, 1);
  }
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, zip64End ? 0xFFFF : count);
  Put16(out, zip64End ? 0xFFFF : count);
  Put32(out, zip64End ? kAll32 : cdSize);
  Put32(out, zip64End ? kAll32 : cdOffset);
  Put16(out, comment_.size());
  out += comment_;
  return out;
}

bool ZipWriter::WriteTo(const std::filesystem::path& path) const {
  const std::string bytes = Build();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file.flush());
}

}  // namespace kestrivon::test_support
