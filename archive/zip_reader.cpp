#include "archive/zip_reader.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>

#include <zlib.h>

#include "archive/zip_format.h"

namespace kestrivon::archive {
namespace {

constexpr size_t kEndSearchSize = zip::kEndSize + 0xFFFF;  // the record plus the longest comment
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint32_t kDosDirectoryAttribute = 0x10;

constexpr size_t kDirectoryChunkSize = 64 * 1024;
// Large blocks: fewer write calls, and inflate stays in its fast loop.
constexpr size_t kInputBufferSize = 256 * 1024;
constexpr size_t kOutputBufferSize = 1024 * 1024;

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t Get64(const unsigned char* p) {
  return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}

// a + b, or nothing on overflow.
std::optional<uint64_t> Add(uint64_t a, uint64_t b) {
  if (b > std::numeric_limits<uint64_t>::max() - a) return std::nullopt;
  return a + b;
}

// Host systems whose external attributes carry the DOS attribute byte: MS-DOS/FAT,
// Windows NTFS and VFAT.
bool MadeOnDosOrWindows(uint16_t versionMadeBy) {
  const unsigned host = versionMadeBy >> 8;
  return host == 0 || host == 10 || host == 14;
}

uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t size) {
  while (size > 0) {
    const uInt chunk = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    crc = static_cast<uint32_t>(crc32(crc, data, chunk));
    data += chunk;
    size -= chunk;
  }
  return crc;
}

}  // namespace

struct ZipReader::Entry {
  uint64_t centralOffset = 0;  // of the entry's central header
  uint64_t localOffset = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint64_t dataLimit = 0;  // where the next entry or the central directory begins
  uint32_t crc32 = 0;
  uint16_t nameLength = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
  bool directory = false;
};

struct ZipReader::Inflater {
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

ZipReader::ZipReader() = default;
ZipReader::~ZipReader() = default;

void ZipReader::Close() {
  read_ = nullptr;
  archiveSize_ = 0;
  entryCount_ = 0;
  entries_.clear();
  entries_.shrink_to_fit();
}

bool ZipReader::ReadExact(uint64_t offset, void* buffer, size_t size) const {
  if (size == 0) return true;
  if (offset > archiveSize_ || size > archiveSize_ - offset) return false;
  return read_(offset, buffer, size) == size;
}

bool ZipReader::Open(ZipReadFunction read, uint64_t archiveSize, uint64_t maxIndexedEntries) {
  Close();
  if (!read) return false;
  read_ = std::move(read);
  archiveSize_ = archiveSize;

  uint64_t cdOffset = 0;
  uint64_t cdSize = 0;
  uint64_t cdLimit = 0;
  bool ok = ReadEndRecords(cdOffset, cdSize, cdLimit);
  if (ok && entryCount_ <= maxIndexedEntries) {
    ok = ReadCentralDirectory(cdOffset, cdSize) && CheckDataRanges(cdOffset, cdSize);
  }
  if (!ok) Close();
  return ok;
}

bool ZipReader::ReadEndRecords(uint64_t& cdOffset, uint64_t& cdSize, uint64_t& cdLimit) {
  if (archiveSize_ < zip::kEndSize) return false;
  const size_t window = static_cast<size_t>(std::min<uint64_t>(archiveSize_, kEndSearchSize));
  const uint64_t windowStart = archiveSize_ - window;
  std::vector<unsigned char> tail(window);
  if (!ReadExact(windowStart, tail.data(), window)) return false;

  // The last signature wins: a comment may hold anything, but nothing follows the record.
  size_t pos = window - zip::kEndSize + 1;
  do {
    --pos;
    if (Get32(&tail[pos]) == zip::kEndSignature) break;
  } while (pos > 0);
  if (Get32(&tail[pos]) != zip::kEndSignature) return false;
  // A record whose comment runs exactly to the end of the file could be the real one. When
  // such a record lies before the last one, one record hides in the other's comment and
  // readers that take the first disagree with those that take the last: trust neither.
  const auto complete = [&](size_t at) {
    return at + zip::kEndSize + Get16(&tail[at + 20]) == window;
  };
  for (size_t at = pos; at-- > 0;) {
    if (Get32(&tail[at]) == zip::kEndSignature && complete(at)) return false;
  }
  const unsigned char* end = &tail[pos];
  const uint64_t endOffset = windowStart + pos;

  uint64_t disk = Get16(end + 4);
  uint64_t cdDisk = Get16(end + 6);
  uint64_t entriesOnDisk = Get16(end + 8);
  uint64_t entries = Get16(end + 10);
  cdSize = Get32(end + 12);
  cdOffset = Get32(end + 16);
  cdLimit = endOffset;

  if (endOffset >= zip::kZip64LocatorSize) {
    unsigned char locator[zip::kZip64LocatorSize];
    if (!ReadExact(endOffset - zip::kZip64LocatorSize, locator, sizeof locator)) return false;
    if (Get32(locator) == zip::kZip64LocatorSignature) {
      const uint32_t recordDisk = Get32(locator + 4);
      const uint64_t recordOffset = Get64(locator + 8);
      const uint32_t totalDisks = Get32(locator + 16);
      const uint64_t locatorOffset = endOffset - zip::kZip64LocatorSize;
      if (recordDisk != 0 || totalDisks > 1) return false;
      if (locatorOffset < zip::kZip64EndSize || recordOffset > locatorOffset - zip::kZip64EndSize) {
        return false;
      }
      unsigned char record[zip::kZip64EndSize];
      if (!ReadExact(recordOffset, record, sizeof record)) return false;
      if (Get32(record) != zip::kZip64EndSignature) return false;
      disk = Get32(record + 16);
      cdDisk = Get32(record + 20);
      entriesOnDisk = Get64(record + 24);
      entries = Get64(record + 32);
      cdSize = Get64(record + 40);
      cdOffset = Get64(record + 48);
      cdLimit = recordOffset;
    }
  }

  // Split archives are not ours to read.
  if (disk != 0 || cdDisk != 0 || entriesOnDisk != entries) return false;
  if (cdOffset > cdLimit || cdSize > cdLimit - cdOffset) return false;
  // Every central header takes at least 46 bytes: this bounds the count by the file size.
  if (entries > cdSize / zip::kCentralHeaderSize) return false;
  entryCount_ = entries;
  return true;
}

namespace {

// A sliding window over the central directory: read in chunks, never the whole directory at
// once.
class DirectoryWindow {
 public:
  using Read = std::function<bool(uint64_t offset, void* buffer, size_t size)>;
  DirectoryWindow(Read read, uint64_t end) : read_(std::move(read)), end_(end) {}

  // `need` bytes from `at` on, valid until the next call; null when they cannot be read.
  const unsigned char* View(uint64_t at, size_t need) {
    if (at >= start_ && at - start_ + need <= length_) return buffer_.data() + (at - start_);
    const size_t length =
        static_cast<size_t>(std::min<uint64_t>(std::max(need, kDirectoryChunkSize), end_ - at));
    if (buffer_.size() < length) buffer_.resize(length);
    if (!read_(at, buffer_.data(), length)) return nullptr;
    start_ = at;
    length_ = length;
    return buffer_.data();
  }

 private:
  Read read_;
  uint64_t end_;
  std::vector<unsigned char> buffer_;
  uint64_t start_ = 0;
  size_t length_ = 0;
};

}  // namespace

// The ZIP64 extra field supplies, in this order, each of the three fields whose 32-bit value
// is all ones. False when one it must supply is missing.
bool ZipReader::ApplyZip64Extra(const unsigned char* extra, uint16_t extraLength, Entry& entry) {
  const bool needUncompressed = entry.uncompressedSize == 0xFFFFFFFF;
  const bool needCompressed = entry.compressedSize == 0xFFFFFFFF;
  const bool needOffset = entry.localOffset == 0xFFFFFFFF;
  if (!needUncompressed && !needCompressed && !needOffset) return true;
  const unsigned char* extraEnd = extra + extraLength;
  while (extraEnd - extra >= 4) {
    const uint16_t id = Get16(extra);
    const uint16_t size = Get16(extra + 2);
    const unsigned char* data = extra + 4;
    if (size > extraEnd - data) break;  // a cut field ends the list
    if (id == zip::kZip64ExtraId) {
      size_t left = size;
      auto take = [&](uint64_t& field) {
        if (left < 8) return false;
        field = Get64(data);
        data += 8;
        left -= 8;
        return true;
      };
      return (!needUncompressed || take(entry.uncompressedSize)) &&
             (!needCompressed || take(entry.compressedSize)) &&
             (!needOffset || take(entry.localOffset));
    }
    extra = data + size;
  }
  return false;
}

bool ZipReader::ReadCentralDirectory(uint64_t cdOffset, uint64_t cdSize) {
  entries_.reserve(static_cast<size_t>(entryCount_));
  const uint64_t cdEnd = cdOffset + cdSize;
  DirectoryWindow window([this](uint64_t offset, void* buffer,
                                size_t size) { return ReadExact(offset, buffer, size); },
                         cdEnd);

  uint64_t pos = cdOffset;
  for (uint64_t i = 0; i < entryCount_; ++i) {
    if (cdEnd - pos < zip::kCentralHeaderSize) return false;
    const unsigned char* header = window.View(pos, zip::kCentralHeaderSize);
    if (header == nullptr || Get32(header) != zip::kCentralHeaderSignature) return false;

    const uint16_t versionMadeBy = Get16(header + 4);
    Entry entry;
    entry.centralOffset = pos;
    entry.flags = Get16(header + 8);
    entry.method = Get16(header + 10);
    entry.crc32 = Get32(header + 16);
    entry.compressedSize = Get32(header + 20);
    entry.uncompressedSize = Get32(header + 24);
    entry.nameLength = Get16(header + 28);
    const uint16_t extraLength = Get16(header + 30);
    const uint16_t commentLength = Get16(header + 32);
    const uint32_t externalAttributes = Get32(header + 38);
    entry.localOffset = Get32(header + 42);

    const uint64_t recordSize =
        uint64_t{zip::kCentralHeaderSize} + entry.nameLength + extraLength + commentLength;
    if (recordSize > cdEnd - pos) return false;
    header = window.View(pos, zip::kCentralHeaderSize + entry.nameLength + extraLength);
    if (header == nullptr) return false;
    const unsigned char* name = header + zip::kCentralHeaderSize;
    if (!ApplyZip64Extra(name + entry.nameLength, extraLength, entry)) return false;

    entry.directory =
        (entry.nameLength > 0 && name[entry.nameLength - 1] == '/') ||
        (MadeOnDosOrWindows(versionMadeBy) && (externalAttributes & kDosDirectoryAttribute) != 0);
    entries_.push_back(entry);
    pos += recordSize;
  }
  return true;
}

bool ZipReader::CheckDataRanges(uint64_t cdOffset, uint64_t cdSize) {
  // Each entry claims at least its local header, its name and its compressed data. No two
  // claims may overlap each other or the central directory: overlapping entries are how
  // small archives expand to enormous totals.
  struct Range {
    uint64_t begin;
    uint64_t end;
    Entry* entry;
  };
  std::vector<Range> ranges;
  ranges.reserve(entries_.size() + 1);
  for (Entry& entry : entries_) {
    const auto end =
        Add(entry.localOffset, zip::kLocalHeaderSize + entry.nameLength).and_then([&](uint64_t v) {
          return Add(v, entry.compressedSize);
        });
    if (!end || *end > archiveSize_) return false;
    ranges.push_back({entry.localOffset, *end, &entry});
  }
  if (cdSize > 0) ranges.push_back({cdOffset, cdOffset + cdSize, nullptr});
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.begin < b.begin; });
  for (size_t i = 0; i < ranges.size(); ++i) {
    const uint64_t next = i + 1 < ranges.size() ? ranges[i + 1].begin : archiveSize_;
    if (ranges[i].end > next) return false;
    if (ranges[i].entry != nullptr) ranges[i].entry->dataLimit = next;
  }
  return true;
}

std::optional<size_t> ZipReader::EntryName(uint64_t index, std::span<char> buffer) const {
  if (index >= entries_.size() || buffer.empty()) return std::nullopt;
  const Entry& entry = entries_[static_cast<size_t>(index)];
  const size_t length = std::min<size_t>(entry.nameLength, buffer.size() - 1);
  if (!ReadExact(entry.centralOffset + zip::kCentralHeaderSize, buffer.data(), length)) {
    return std::nullopt;
  }
  buffer[length] = '\0';
  return length;
}

bool ZipReader::IsDirectory(uint64_t index) const {
  return index < entries_.size() && entries_[static_cast<size_t>(index)].directory;
}

std::optional<ZipEntryStat> ZipReader::Stat(uint64_t index) const {
  if (index >= entries_.size()) return std::nullopt;
  const Entry& entry = entries_[static_cast<size_t>(index)];
  return ZipEntryStat{.compressedSize = entry.compressedSize,
                      .uncompressedSize = entry.uncompressedSize,
                      .method = entry.method,
                      .flags = entry.flags,
                      .crc32 = entry.crc32};
}

std::expected<void, ZipError> ZipReader::Extract(uint64_t index, const ZipWriteFunction& write) {
  if (index >= entries_.size()) return std::unexpected(ZipError::BadIndex);
  const Entry& entry = entries_[static_cast<size_t>(index)];
  if ((entry.flags & kFlagEncrypted) != 0) return std::unexpected(ZipError::Encrypted);
  if (entry.method != zip::kMethodStored && entry.method != zip::kMethodDeflate) {
    return std::unexpected(ZipError::Unsupported);
  }

  unsigned char local[zip::kLocalHeaderSize];
  if (!ReadExact(entry.localOffset, local, sizeof local)) {
    return std::unexpected(ZipError::ReadFailed);
  }
  if (Get32(local) != zip::kLocalHeaderSignature || Get16(local + 26) != entry.nameLength) {
    return std::unexpected(ZipError::Invalid);
  }
  // The name the directory lists must be the name stored with the data.
  nameScratch_.resize(size_t{entry.nameLength} * 2);
  char* centralName = nameScratch_.data();
  char* localName = centralName + entry.nameLength;
  if (!ReadExact(entry.centralOffset + zip::kCentralHeaderSize, centralName, entry.nameLength) ||
      !ReadExact(entry.localOffset + zip::kLocalHeaderSize, localName, entry.nameLength)) {
    return std::unexpected(ZipError::ReadFailed);
  }
  if (entry.nameLength > 0 && std::memcmp(centralName, localName, entry.nameLength) != 0) {
    return std::unexpected(ZipError::Invalid);
  }

  // The local extra field may differ in length from the central one; only now is the exact
  // start of the data known, and it must still end before the next entry.
  const uint64_t dataOffset =
      entry.localOffset + zip::kLocalHeaderSize + entry.nameLength + Get16(local + 28);
  if (dataOffset > entry.dataLimit || entry.compressedSize > entry.dataLimit - dataOffset) {
    return std::unexpected(ZipError::Invalid);
  }

  if (input_.empty()) input_.resize(kInputBufferSize);
  if (output_.empty()) output_.resize(kOutputBufferSize);
  return entry.method == zip::kMethodStored ? CopyStored(entry, dataOffset, write)
                                            : Inflate(entry, dataOffset, write);
}

std::expected<void, ZipError> ZipReader::CopyStored(const Entry& entry, uint64_t dataOffset,
                                                    const ZipWriteFunction& write) {
  if (entry.compressedSize > entry.uncompressedSize) return std::unexpected(ZipError::TooLong);
  if (entry.compressedSize < entry.uncompressedSize) {
    return std::unexpected(ZipError::SizeMismatch);
  }
  uint32_t crc = Crc32(0, nullptr, 0);
  uint64_t left = entry.compressedSize;
  uint64_t offset = dataOffset;
  while (left > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, output_.size()));
    if (!ReadExact(offset, output_.data(), chunk)) return std::unexpected(ZipError::ReadFailed);
    crc = Crc32(crc, output_.data(), chunk);
    if (write(output_.data(), chunk) != chunk) return std::unexpected(ZipError::Stopped);
    offset += chunk;
    left -= chunk;
  }
  if (crc != entry.crc32) return std::unexpected(ZipError::CrcMismatch);
  return {};
}

std::expected<void, ZipError> ZipReader::Inflate(const Entry& entry, uint64_t dataOffset,
                                                 const ZipWriteFunction& write) {
  if (!inflater_) inflater_ = std::make_unique<Inflater>();
  if (!inflater_->Reset()) return std::unexpected(ZipError::DataError);
  z_stream& stream = inflater_->stream;

  uint32_t crc = Crc32(0, nullptr, 0);
  uint64_t produced = 0;
  uint64_t inputLeft = entry.compressedSize;
  uint64_t inputOffset = dataOffset;
  if (inputLeft == 0) {
    // Some writers store an empty file as a deflate entry without any data.
    if (entry.uncompressedSize != 0) return std::unexpected(ZipError::SizeMismatch);
    if (entry.crc32 != crc) return std::unexpected(ZipError::CrcMismatch);
    return {};
  }
  stream.next_in = nullptr;
  stream.avail_in = 0;
  for (;;) {
    if (stream.avail_in == 0 && inputLeft > 0) {
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(inputLeft, input_.size()));
      if (!ReadExact(inputOffset, input_.data(), chunk)) {
        return std::unexpected(ZipError::ReadFailed);
      }
      stream.next_in = input_.data();
      stream.avail_in = static_cast<uInt>(chunk);
      inputOffset += chunk;
      inputLeft -= chunk;
    }
    stream.next_out = output_.data();
    stream.avail_out = static_cast<uInt>(output_.size());
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return std::unexpected(ZipError::DataError);

    const size_t have = output_.size() - stream.avail_out;
    if (have > 0) {
      // Stop before a single byte beyond the declared size reaches the writer: a lying
      // entry must not fill the disk before its size is checked.
      if (have > entry.uncompressedSize - produced) return std::unexpected(ZipError::TooLong);
      crc = Crc32(crc, output_.data(), have);
      if (write(output_.data(), have) != have) return std::unexpected(ZipError::Stopped);
      produced += have;
    }
    if (status == Z_STREAM_END) break;
  }
  if (produced != entry.uncompressedSize) return std::unexpected(ZipError::SizeMismatch);
  if (crc != entry.crc32) return std::unexpected(ZipError::CrcMismatch);
  return {};
}

}  // namespace kestrivon::archive
