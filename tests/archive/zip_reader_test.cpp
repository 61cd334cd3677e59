#include "archive/zip_reader.h"

#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "tests/support/zip_writer.h"

namespace kestrivon::archive {
namespace {

using testing::kStored;
using testing::Text;
using testing::ZipWriter;
using testing::ZipWriterEntry;

// Reads `bytes`, which must outlive the function.
ZipReadFunction ReadFrom(const std::string& bytes) {
  return [&bytes](uint64_t offset, void* buffer, size_t size) -> size_t {
    return offset < bytes.size() ? bytes.copy(static_cast<char*>(buffer), size, offset) : 0;
  };
}

bool OpenBytes(ZipReader& reader, const std::string& bytes, uint64_t maxIndexed = 100'000) {
  return reader.Open(ReadFrom(bytes), bytes.size(), maxIndexed);
}

using Extracted = std::expected<std::string, ZipError>;

// The entry's bytes. Whatever the outcome, no byte beyond the declared size reaches the writer;
// on success, all of them do. With a scratch, through its inflater (whole or streamed).
Extracted ExtractToString(ZipReader& reader, uint64_t index, ZipExtractScratch* scratch = nullptr,
                          const ZipReadFunction& read = {}) {
  std::string out;
  const auto write = [&out](const void* data, size_t size) {
    out.append(static_cast<const char*>(data), size);
    return size;
  };
  const auto result =
      scratch ? reader.Extract(index, write, *scratch, read) : reader.Extract(index, write);
  if (const auto stat = reader.Stat(index)) {
    EXPECT_LE(out.size(), stat->uncompressedSize);
    EXPECT_TRUE(!result || out.size() == stat->uncompressedSize);
  }
  if (!result) return std::unexpected(result.error());
  return out;
}

// Little-endian, `width` bytes.
std::string Patched(std::string bytes, size_t at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// Each entry shows its name, kind and declared size, and extracts to its data or its error.
TEST(ZipReader, ReadsEachEntryOrRefusesItFaithfully) {
  const std::string text = Text(50'000);
  const size_t n = text.size();
  const std::string zeros(8 << 20, '\0');
  struct Case {
    ZipWriterEntry entry;
    std::optional<ZipError> error = {};
    bool directory = false;
  };
  const Case cases[] = {
      {{.name = "stored64", .data = "abc", .method = kStored, .zip64 = true}},
      {{.name = "dir/", .method = kStored}, {}, true},
      {{.name = "empty-deflated"}},
      {{.name = "empty-no-data", .compressedSize = 0}},
      // The attribute counts only where the maker (MS-DOS: 0, NTFS: 10) wrote DOS attributes.
      {{.name = "dos", .versionMadeBy = 20, .externalAttributes = 0x10}, {}, true},
      {{.name = "ntfs", .versionMadeBy = (10 << 8) | 20, .externalAttributes = 0x10}, {}, true},
      {{.name = "unix", .externalAttributes = 0x10}},
      {{.name = "dos-file", .versionMadeBy = 20, .externalAttributes = 0x20}},
      // Sizes beyond 32 bits come from the extra field.
      {{.name = "huge", .data = "x", .uncompressedSize = 5'000'000'000, .zip64 = true},
       ZipError::SizeMismatch},
      {{.name = "stored-crc", .data = text, .method = kStored, .crc32 = 1}, ZipError::CrcMismatch},
      {{.name = "crc", .data = text, .crc32 = 1}, ZipError::CrcMismatch},
      {{.name = "name", .data = text, .localName = "evil"}, ZipError::Invalid},
      {{.name = "encrypted", .data = text, .flags = 1}, ZipError::Encrypted},
      {{.name = "bzip2", .data = text, .method = 12}, ZipError::Unsupported},
      {{.name = "truncated", .data = text, .compressedSize = 1000}, ZipError::DataError},
      {{.name = "short", .data = text, .uncompressedSize = n + 1}, ZipError::SizeMismatch},
      {{.name = "large", .data = zeros}},
      {{.name = "stored-short", .data = text, .method = kStored, .uncompressedSize = n + 1},
       ZipError::SizeMismatch},
      {{.name = "stored-long", .data = text, .method = kStored, .uncompressedSize = n - 1},
       ZipError::TooLong},
      // Inflating far beyond the declared size: stopped within the first block, and beyond.
      {{.name = "lie", .data = zeros, .uncompressedSize = 1024}, ZipError::TooLong},
      {{.name = "lie-later", .data = zeros, .uncompressedSize = 1536 << 10}, ZipError::TooLong},
      // Bad entries leave the reader usable for the others.
      {{.name = "fine", .data = text}}};
  // The end record lies behind the longest comment.
  ZipWriter writer{.zip64End = true, .comment = std::string(65535, 'c')};
  for (const Case& c : cases) writer.Add(c.entry);
  const std::string bytes = writer.Build();
  const uint64_t count = std::size(cases);
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, bytes, count));  // just within the indexing limit
  char name[ZipReader::kNameBufferSize];
  // Small entries are inflated whole, large ones streamed: each road gives the same answers.
  ZipExtractScratch streamed;
  streamed.wholeEntryLimit = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const auto& [entry, error, directory] = cases[i];
    SCOPED_TRACE(entry.name);
    const uint64_t declared = entry.uncompressedSize.value_or(entry.data.size());
    EXPECT_EQ(std::string(name, reader.EntryName(i, name).value_or(0)), entry.name);
    EXPECT_EQ(reader.IsDirectory(i), directory);
    EXPECT_EQ(reader.Stat(i)->uncompressedSize, declared);
    const Extracted expected = error ? Extracted(std::unexpected(*error)) : Extracted(entry.data);
    EXPECT_EQ(ExtractToString(reader, i), expected);
    EXPECT_EQ(ExtractToString(reader, i, &streamed, ReadFrom(bytes)), expected);
  }
  EXPECT_EQ(ExtractToString(reader, count), std::unexpected(ZipError::BadIndex));

  // A write function that takes less than it is given stops the extraction at once.
  int calls = 0;
  for (uint64_t i : {uint64_t{0}, count - 1}) {
    const auto result = reader.Extract(i, [&calls](const void*, size_t) {
      ++calls;
      return size_t{0};
    });
    EXPECT_EQ(result, std::unexpected(ZipError::Stopped));
  }
  EXPECT_EQ(calls, 2);

  // A local extra field that grew after the directory was checked pushes the data into the
  // next entry: caught at extraction.
  const std::string grown = Patched(bytes, 28, 200, 2);
  ASSERT_TRUE(OpenBytes(reader, grown));
  EXPECT_EQ(ExtractToString(reader, 0), std::unexpected(ZipError::Invalid));

  // Beyond the indexing limit no entry is read (the caller refuses the archive by its count).
  ASSERT_TRUE(OpenBytes(reader, bytes, count - 1));
  EXPECT_FALSE(reader.EntryName(0, name));
  // Beyond the longest comment, no more search.
  EXPECT_FALSE(OpenBytes(reader, bytes + 'x'));
  EXPECT_TRUE(OpenBytes(reader, ZipWriter().Build()));  // an empty archive is a valid one
}

// Archives whose records do not hold together are refused as a whole.
TEST(ZipReader, RefusesBrokenArchivesAndSurvivesEveryCorruption) {
  const std::string good =
      ZipWriter().AddFile(std::string(50, 'a'), "hello").AddFile(std::string(50, 'b'), "x").Build();
  const size_t end = good.size() - 22;
  const std::string zip64 = ZipWriter{.zip64End = true}.AddFile("a.txt", "hello").Build();
  const size_t record = zip64.size() - 22 - 20 - 56;  // before the end record and the locator
  // The end record lists only the first entry, with the complete end record of both in its
  // comment: readers that take the first see one file, those that take the last see two.
  const std::string both = ZipWriter().AddFile("a.txt", "a").AddFile("evil.txt", "e").Build();
  const std::string last = both.substr(both.size() - 22);
  const std::string first =
      Patched(Patched(Patched(last, 8, 0x00010001, 4), 12, 46 + 5, 4), 20, 22, 2);
  const std::string twice = ZipWriter().AddFile("a", "a").AddFile("a", "a").Build();
  const std::pair<const char*, std::string> cases[] = {
      {"no end record", std::string(100'000, '\0')},
      {"end signature in trailing bytes", good + "PK\x05\x06" + std::string(30, 'x')},
      {"end record hidden in the comment", both.substr(0, both.size() - 22) + first + last},
      {"a stub the offsets do not count", "MZ" + std::string(5000, '\x90') + good},
      {"another disk", Patched(good, end + 4, 1, 2)},
      {"count differs per disk", Patched(good, end + 8, 1, 2)},
      {"more entries than the directory holds", Patched(good, end + 8, 0x00030003, 4)},
      {"directory running into the end record", Patched(good, end + 12, 2 * (46 + 50) + 1, 4)},
      {"ZIP64 size marker without its extra field",
       Patched(good, end - 2 * (46 + 50) + 24, 0xFFFFFFFF, 4)},
      {"ZIP64 record without its signature", Patched(zip64, record, 0x06064b51, 4)},
      {"ZIP64 record overlapping the locator", Patched(zip64, record + 64, record + 56, 8)},
      // Fields out of range, with sums that overflow 64 bits.
      {"ZIP64 directory offset", Patched(zip64, record + 48, UINT64_MAX - 8, 8)},
      {"ZIP64 directory size", Patched(zip64, record + 40, UINT64_MAX - 8, 8)},
      {"ZIP64 entry count",
       Patched(Patched(zip64, record + 24, UINT64_MAX, 8), record + 32, UINT64_MAX, 8)},
      {"ZIP64 compressed size",
       ZipWriter().Add({.name = "a", .compressedSize = UINT64_MAX - 8, .zip64 = true}).Build()},
      // Entries that share data (the second record's offset, before its name, set to 0), or run
      // into the directory.
      {"two directory records for one entry", Patched(twice, twice.size() - 22 - 1 - 4, 0, 4)},
      {"data running into the directory",
       ZipWriter().Add({.name = "a", .compressedSize = 10}).Build()}};
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, good));
  ASSERT_TRUE(OpenBytes(reader, zip64));
  for (const auto& [what, bytes] : cases) {
    EXPECT_FALSE(OpenBytes(reader, bytes)) << what;
    EXPECT_EQ(reader.EntryCount(), 0u) << what;
  }
  // Every prefix loses the end record or the data it describes.
  for (size_t length = 0; length < good.size(); ++length) {
    EXPECT_FALSE(OpenBytes(reader, good.substr(0, length))) << length;
  }

  // Every single-byte corruption of a richer archive: no crash, no read outside the buffer.
  const std::string rich = ZipWriter{.zip64End = true}
                               .AddDirectory("d/")
                               .AddFile("d/a.txt", Text(3000))
                               .AddFile("b.bin", Text(300), kStored)
                               .Add({.name = "c", .data = Text(500), .zip64 = true})
                               .Build();
  int opened = 0;
  for (size_t at = 0; at < rich.size(); ++at) {
    for (const int mask : {0xFF, 0x01, 0x80}) {
      std::string bytes = rich;
      bytes[at] = static_cast<char>(bytes[at] ^ mask);
      if (!OpenBytes(reader, bytes)) continue;
      ++opened;
      SCOPED_TRACE(at);
      for (uint64_t i = 0; i < reader.EntryCount(); ++i) (void)ExtractToString(reader, i);
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(opened, 0);
}

}  // namespace
}  // namespace kestrivon::archive
