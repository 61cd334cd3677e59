#include "archive/zip_reader.h"

#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/zip_writer.h"

namespace kestrivon::archive {
namespace {

using test_support::kDeflated;
using test_support::kMadeOnDos;
using test_support::kStored;
using test_support::ZipWriter;
using test_support::ZipWriterEntry;

// Opens `bytes`, which must outlive the reader's use.
bool OpenBytes(ZipReader& reader, const std::string& bytes, uint64_t maxIndexed = 100'000) {
  return reader.Open(
      [&bytes](uint64_t offset, void* buffer, size_t size) -> size_t {
        if (offset >= bytes.size()) return 0;
        const size_t n = std::min<size_t>(size, bytes.size() - static_cast<size_t>(offset));
        std::memcpy(buffer, bytes.data() + offset, n);
        return n;
      },
      bytes.size(), maxIndexed);
}

std::expected<std::string, ZipError> ExtractToString(ZipReader& reader, uint64_t index) {
  std::string out;
  auto result = reader.Extract(index, [&out](const void* data, size_t size) {
    out.append(static_cast<const char*>(data), size);
    return size;
  });
  if (!result) return std::unexpected(result.error());
  return out;
}

std::string NameOf(const ZipReader& reader, uint64_t index) {
  char buffer[ZipReader::kNameBufferSize];
  const auto length = reader.EntryName(index, buffer);
  return length ? std::string(buffer, *length) : "<none>";
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random() & 0xFF);
  return out;
}

std::string Text(size_t size) {
  std::string out;
  for (size_t line = 0; out.size() < size; ++line) {
    out += "line " + std::to_string(line) + " of some fairly repetitive text\n";
  }
  out.resize(size);
  return out;
}

void Patch16(std::string& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

void Patch32(std::string& bytes, size_t at, uint32_t value) {
  Patch16(bytes, at, static_cast<uint16_t>(value & 0xFFFF));
  Patch16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

TEST(ZipReader, ReadsStoredDeflatedEmptyAndDirectoryEntries) {
  const std::string binary = RandomBytes(100'000, 1);
  const std::string text = Text(3'500'000);  // several output blocks
  const std::string bytes = ZipWriter()
                                .AddDirectory("dir/")
                                .AddFile("dir/stored.bin", binary, kStored)
                                .AddFile("dir/text.txt", text)
                                .AddFile("empty-deflated", "")
                                .AddFile("empty-stored", "", kStored)
                                .Add({.name = "empty-no-data", .rawData = ""})
                                .Build();
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, bytes));
  ASSERT_EQ(reader.EntryCount(), 6u);
  const std::string names[] = {"dir/",           "dir/stored.bin", "dir/text.txt",
                               "empty-deflated", "empty-stored",   "empty-no-data"};
  for (uint64_t i = 0; i < 6; ++i) {
    EXPECT_EQ(NameOf(reader, i), names[i]);
    EXPECT_EQ(reader.IsDirectory(i), i == 0) << i;
  }

  const auto stat = reader.Stat(2);
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->uncompressedSize, text.size());
  EXPECT_LT(stat->compressedSize, text.size() / 10);
  EXPECT_EQ(stat->method, kDeflated);
  EXPECT_EQ(stat->crc32, test_support::Crc32(text));

  EXPECT_EQ(ExtractToString(reader, 1).value_or("failed"), binary);
  EXPECT_EQ(ExtractToString(reader, 2).value_or("failed"), text);
  for (uint64_t i : {0u, 3u, 4u, 5u}) EXPECT_EQ(ExtractToString(reader, i).value_or("failed"), "");
  EXPECT_EQ(ExtractToString(reader, 6).error(), ZipError::BadIndex);
  EXPECT_FALSE(reader.Stat(6));
  EXPECT_EQ(NameOf(reader, 6), "<none>");
}

TEST(ZipReader, DirectoryAttributeCountsOnlyForDosAndWindowsMakers) {
  const std::string bytes =
      ZipWriter()
          .Add({.name = "dos",
                .method = kStored,
                .versionMadeBy = kMadeOnDos,
                .externalAttributes = 0x10})
          .Add({.name = "ntfs",
                .method = kStored,
                .versionMadeBy = (10 << 8) | 20,
                .externalAttributes = 0x10})
          // On Unix the low byte is not an attribute byte.
          .Add({.name = "unix", .method = kStored, .externalAttributes = 0x10})
          .Add({.name = "dos-file",
                .method = kStored,
                .versionMadeBy = kMadeOnDos,
                .externalAttributes = 0x20})
          .Build();
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, bytes));
  EXPECT_TRUE(reader.IsDirectory(0));
  EXPECT_TRUE(reader.IsDirectory(1));
  EXPECT_FALSE(reader.IsDirectory(2));
  EXPECT_FALSE(reader.IsDirectory(3));
}

TEST(ZipReader, ReadsZip64RecordsAndDataDescriptors) {
  const std::string text = Text(200'000);
  const std::string bytes =
      ZipWriter()
          .Add({.name = "z64.txt", .data = text, .zip64 = true})
          .Add({.name = "descriptor.txt", .data = text, .flags = 0x0008})
          .Add({.name = "both.bin",
                .data = "abc",
                .method = kStored,
                .flags = 0x0008,
                .zip64 = true})
          // Sizes beyond 32 bits come from the extra field.
          .Add(
              {.name = "huge-claim", .data = "x", .uncompressedSize = 5'000'000'000, .zip64 = true})
          .Zip64End()
          .Build();
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, bytes));
  ASSERT_EQ(reader.EntryCount(), 4u);
  EXPECT_EQ(ExtractToString(reader, 0).value_or("failed"), text);
  EXPECT_EQ(ExtractToString(reader, 1).value_or("failed"), text);
  EXPECT_EQ(ExtractToString(reader, 2).value_or("failed"), "abc");
  EXPECT_EQ(reader.Stat(3)->uncompressedSize, 5'000'000'000u);
  EXPECT_EQ(ExtractToString(reader, 3).error(), ZipError::SizeMismatch);

  // A ZIP64 size marker without the extra field that should carry the size.
  std::string broken = ZipWriter().AddFile("a", "abc", kStored).Build();
  const size_t central = broken.size() - 22 - (46 + 1);
  Patch32(broken, central + 24, 0xFFFFFFFF);
  EXPECT_FALSE(OpenBytes(reader, broken));
}

TEST(ZipReader, FindsTheEndRecordOnlyWithinTheLongestComment) {
  const std::string comment(65535, 'c');
  std::string bytes = ZipWriter().AddFile("a.txt", "hello").Comment(comment).Build();
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, bytes));
  EXPECT_EQ(ExtractToString(reader, 0).value_or("failed"), "hello");
  bytes += 'x';  // now 65,558 bytes from the end
  EXPECT_FALSE(OpenBytes(reader, bytes));
  EXPECT_EQ(reader.EntryCount(), 0u);

  EXPECT_FALSE(OpenBytes(reader, ""));
  EXPECT_FALSE(OpenBytes(reader, "PK\x05\x06"));
  EXPECT_FALSE(OpenBytes(reader, std::string(100'000, '\0')));
  // An empty archive is a valid one.
  ASSERT_TRUE(OpenBytes(reader, ZipWriter().Build()));
  EXPECT_EQ(reader.EntryCount(), 0u);
}

TEST(ZipReader, RefusesEndRecordsThatPointAnywhereElse) {
  const std::string good = ZipWriter().AddFile("a.txt", "hello").AddFile("b.txt", "world").Build();
  const size_t end = good.size() - 22;
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, good));

  // Every prefix loses the end record or the data it describes.
  for (size_t length = 0; length < good.size(); ++length) {
    EXPECT_FALSE(OpenBytes(reader, good.substr(0, length))) << length;
  }
  auto patched = [&](size_t at, uint32_t value, int width) {
    std::string bytes = good;
    width == 2 ? Patch16(bytes, at, static_cast<uint16_t>(value)) : Patch32(bytes, at, value);
    return bytes;
  };
  EXPECT_FALSE(OpenBytes(reader, patched(end + 4, 1, 2)));  // another disk
  EXPECT_FALSE(OpenBytes(reader, patched(end + 8, 1, 2)));  // count differs per disk
  std::string moreEntries = patched(end + 8, 3, 2);
  Patch16(moreEntries, end + 10, 3);
  EXPECT_FALSE(OpenBytes(reader, moreEntries));                       // more entries than listed
  EXPECT_FALSE(OpenBytes(reader, patched(end + 10, 0xFFFF, 2)));      // more than fit the size
  EXPECT_FALSE(OpenBytes(reader, patched(end + 12, 0x7FFFFFFF, 4)));  // directory past the end
  EXPECT_FALSE(OpenBytes(reader, patched(end + 16, 0xFFFFFFF0, 4)));  // directory offset
  EXPECT_FALSE(OpenBytes(reader, patched(end + 16, 1, 4)));           // not a central header

  std::string zip64 = ZipWriter().AddFile("a.txt", "hello").Zip64End().Build();
  const size_t locator = zip64.size() - 22 - 20;
  ASSERT_TRUE(OpenBytes(reader, zip64));
  Patch32(zip64, locator + 8, static_cast<uint32_t>(locator));  // record overlaps the locator
  EXPECT_FALSE(OpenBytes(reader, zip64));
  Patch32(zip64, locator + 8, 0);  // a local header, not the record
  EXPECT_FALSE(OpenBytes(reader, zip64));
}

TEST(ZipReader, CutsNamesToTheCallersBuffer) {
  const std::string longName(3000, 'n');
  const std::string bytes = ZipWriter().AddFile(longName, "x").Build();
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, bytes));
  std::vector<char> buffer(ZipReader::kNameBufferSize, 'z');
  EXPECT_EQ(reader.EntryName(0, buffer), 2047u);
  EXPECT_EQ(buffer[2047], '\0');
  EXPECT_EQ(std::string(buffer.data()), longName.substr(0, 2047));
  char tiny[4];
  EXPECT_EQ(reader.EntryName(0, tiny), 3u);
  EXPECT_STREQ(tiny, "nnn");
  EXPECT_FALSE(reader.EntryName(0, std::span<char>()));
  // The whole name still has to match the local header.
  EXPECT_EQ(ExtractToString(reader, 0).value_or("failed"), "x");
}

TEST(ZipReader, RefusesEntriesItCannotExtractFaithfully) {
  const std::string text = Text(50'000);
  const std::string deflated = test_support::Deflate(text);
  const std::pair<ZipWriterEntry, ZipError> cases[] = {
      {{.name = "encrypted", .data = text, .flags = 0x0001}, ZipError::Encrypted},
      {{.name = "bzip2", .data = text, .method = 12}, ZipError::Unsupported},
      {{.name = "name.txt", .data = text, .localName = "evil.txt"}, ZipError::Invalid},
      {{.name = "crc", .data = text, .crc32 = 1234}, ZipError::CrcMismatch},
      {{.name = "truncated", .data = text, .rawData = deflated.substr(0, deflated.size() / 2)},
       ZipError::DataError},
      {{.name = "garbage", .data = text, .rawData = std::string(100, '\xFF')}, ZipError::DataError},
      {{.name = "short", .data = text, .uncompressedSize = text.size() + 1},
       ZipError::SizeMismatch},
      {{.name = "stored-short",
        .data = text,
        .method = kStored,
        .uncompressedSize = text.size() + 1},
       ZipError::SizeMismatch},
      {{.name = "stored-long",
        .data = text,
        .method = kStored,
        .uncompressedSize = text.size() - 1},
       ZipError::TooLong},
  };
  ZipWriter writer;
  for (const auto& [entry, error] : cases) writer.Add(entry);
  writer.AddFile("fine.txt", "still fine");
  const std::string bytes = writer.Build();
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, bytes));
  for (uint64_t i = 0; i < std::size(cases); ++i) {
    const auto result = ExtractToString(reader, i);
    ASSERT_FALSE(result) << cases[i].first.name;
    EXPECT_EQ(result.error(), cases[i].second) << cases[i].first.name;
  }
  // One bad entry leaves the reader usable for the others.
  EXPECT_EQ(ExtractToString(reader, std::size(cases)).value_or("failed"), "still fine");
}

TEST(ZipReader, StopsALyingEntryAtItsDeclaredSize) {
  const std::string zeros(8 << 20, '\0');
  for (const uint64_t declared : {uint64_t{1024}, uint64_t{1536} << 10}) {
    const std::string bytes =
        ZipWriter().Add({.name = "lie", .data = zeros, .uncompressedSize = declared}).Build();
    ZipReader reader;
    ASSERT_TRUE(OpenBytes(reader, bytes));
    uint64_t written = 0;
    const auto result = reader.Extract(0, [&written](const void*, size_t size) {
      written += size;
      return size;
    });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ZipError::TooLong);
    EXPECT_LE(written, declared);
  }
}

TEST(ZipReader, RefusesEntriesWhoseDataOverlap) {
  const std::string a = Text(10'000);
  ZipReader reader;
  // Two central records for one local header: the classic way to multiply a bomb.
  EXPECT_FALSE(OpenBytes(
      reader,
      ZipWriter().AddFile("a", a).Add({.name = "a", .data = a, .localHeaderOffset = 0}).Build()));
  // A claimed size that runs into the next entry, or into the central directory.
  const size_t firstLength = 30 + 1 + test_support::Deflate(a).size();
  EXPECT_FALSE(OpenBytes(reader, ZipWriter()
                                     .Add({.name = "a", .data = a, .compressedSize = firstLength})
                                     .AddFile("b", a)
                                     .Build()));
  EXPECT_FALSE(OpenBytes(
      reader,
      ZipWriter().AddFile("a", a).Add({.name = "b", .data = a, .compressedSize = 40'000}).Build()));
  // A header that points into another entry's data.
  EXPECT_FALSE(OpenBytes(
      reader,
      ZipWriter().AddFile("a", a).Add({.name = "b", .data = a, .localHeaderOffset = 40}).Build()));

  // Adjacent entries are fine; a local extra field that grew after the directory was
  // checked pushes the data into the next entry and is caught at extraction.
  std::string bytes = ZipWriter().AddFile("a", a).AddFile("b", a).Build();
  ASSERT_TRUE(OpenBytes(reader, bytes));
  Patch16(bytes, 28, 200);
  ASSERT_TRUE(OpenBytes(reader, bytes));
  EXPECT_EQ(ExtractToString(reader, 0).error(), ZipError::Invalid);
  EXPECT_EQ(ExtractToString(reader, 1).value_or("failed"), a);
}

TEST(ZipReader, WriteFunctionStopsTheExtraction) {
  const std::string bytes =
      ZipWriter().AddFile("a", Text(10'000)).AddFile("b", "b", kStored).Build();
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, bytes));
  int calls = 0;
  for (uint64_t i : {0u, 1u}) {
    const auto result = reader.Extract(i, [&calls](const void*, size_t) {
      ++calls;
      return size_t{0};
    });
    EXPECT_EQ(result.error(), ZipError::Stopped);
  }
  EXPECT_EQ(calls, 2);
}

TEST(ZipReader, ReportsTheCountOfAnArchiveTooLargeToIndex) {
  const std::string bytes =
      ZipWriter().AddFile("a", "1").AddFile("b", "2").AddFile("c", "3").Build();
  ZipReader reader;
  ASSERT_TRUE(OpenBytes(reader, bytes, 2));
  EXPECT_EQ(reader.EntryCount(), 3u);
  EXPECT_EQ(NameOf(reader, 0), "<none>");
  EXPECT_EQ(ExtractToString(reader, 0).error(), ZipError::BadIndex);
  ASSERT_TRUE(OpenBytes(reader, bytes, 3));
  EXPECT_EQ(NameOf(reader, 2), "c");
}

// Every single-byte corruption and every truncation of a small archive: no crash, no read
// outside the buffer, and never more output than declared.
TEST(ZipReader, SurvivesCorruptedArchives) {
  const std::string good =
      ZipWriter()
          .AddDirectory("d/")
          .AddFile("d/a.txt", Text(3000))
          .AddFile("b.bin", RandomBytes(300, 7), kStored)
          .Add({.name = "c", .data = Text(500), .flags = 0x0008, .zip64 = true})
          .Zip64End()
          .Build();
  int opened = 0;
  for (size_t at = 0; at < good.size(); ++at) {
    for (const int mask : {0xFF, 0x01, 0x80}) {
      std::string bytes = good;
      bytes[at] = static_cast<char>(bytes[at] ^ mask);
      ZipReader reader;
      if (!OpenBytes(reader, bytes)) continue;
      ++opened;
      for (uint64_t i = 0; i < reader.EntryCount(); ++i) {
        uint64_t produced = 0;
        const auto stat = reader.Stat(i);
        const auto result = reader.Extract(i, [&](const void*, size_t size) {
          produced += size;
          return size;
        });
        ASSERT_TRUE(stat);
        ASSERT_LE(produced, stat->uncompressedSize) << at;
        if (result) {
          ASSERT_EQ(produced, stat->uncompressedSize) << at;
        }
      }
    }
  }
  EXPECT_GT(opened, 0);
}

}  // namespace
}  // namespace kestrivon::archive
