#include "tools/publish/zip_pack.h"

#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/zip_reader.h"
#include "tests/support/zip_writer.h"

namespace kestrivon::publish {
namespace {

using archive::ZipReader;

struct Entry {
  std::string name;
  std::string data;
  uint16_t method = 0;
  bool operator==(const Entry&) const = default;
};

// The entries of an archive in memory, as the updater's own reader reads them back.
std::vector<Entry> ReadBack(const std::string& bytes) {
  ZipReader reader;
  EXPECT_TRUE(reader.Open(
      [&bytes](uint64_t offset, void* buffer, size_t size) -> size_t {
        return offset < bytes.size() ? bytes.copy(static_cast<char*>(buffer), size, offset) : 0;
      },
      bytes.size(), 200'000));
  std::vector<Entry> entries;
  for (uint64_t index = 0; index < reader.EntryCount(); ++index) {
    char name[ZipReader::kNameBufferSize];
    Entry& entry = entries.emplace_back(std::string(name, reader.EntryName(index, name).value()),
                                        "", reader.Stat(index)->method);
    EXPECT_TRUE(reader.Extract(index, [&entry](const void* data, size_t size) {
      entry.data.append(static_cast<const char*>(data), size);
      return size;
    }));
  }
  return entries;
}

// Entries streamed by AddFile and entries deflated ahead by PrepareEntry (on the publisher's
// worker threads) are the same bytes; the ZIP64 end record comes only beyond 65,534 entries.
TEST(ZipPacker, WritesWhatTheUpdatersReaderReadsBack) {
  const std::vector<Entry> entries = {
      {"a/", "", 0},
      {"a/empty", "", 0},
      {"a/text.txt", testing::Text(3'000'000), 8},     // several read blocks
      {"zeros.bin", std::string(2'000'000, '\0'), 0},  // deflates far beyond ratio 100
  };
  std::stringstream streamed;
  std::stringstream prepared;
  ZipPacker streaming(streamed);
  ZipPacker preparing(prepared);
  ASSERT_TRUE(streaming.AddDirectory("a") && preparing.AddDirectory("a"));
  for (const auto& [name, data, method] : std::span(entries).subspan(1)) {
    std::istringstream first(data);
    ASSERT_TRUE(streaming.AddFile(name, first, data.size()));
    std::istringstream second(data);
    const auto entry = PrepareEntry(name, second, data.size());
    ASSERT_TRUE(entry && preparing.AddPrepared(name, *entry));
  }
  ASSERT_TRUE(streaming.Finish() && preparing.Finish());
  EXPECT_EQ(streamed.str(), prepared.str());
  EXPECT_EQ(ReadBack(streamed.str()), entries);
  // Local header: fixed time and date, whatever the clock says.
  EXPECT_EQ(streamed.str().substr(10, 4), std::string("\0\0\x21\0", 4));

  std::istringstream shortData("short");
  std::stringstream out;
  EXPECT_EQ(ZipPacker(out).AddFile("file", shortData, 100),
            std::unexpected("file changed while it was packed"));

  for (const uint64_t count : {65'534u, 70'000u}) {
    std::stringstream archive;
    ZipPacker packer(archive);
    for (uint64_t index = 0; index < count; ++index) {
      ASSERT_TRUE(packer.AddDirectory(std::to_string(index)));
    }
    ASSERT_TRUE(packer.Finish());
    const std::vector<Entry> folders = ReadBack(archive.str());
    EXPECT_EQ(folders.size(), count);
    EXPECT_EQ(folders.back().name, std::to_string(count - 1).append("/"));
    EXPECT_EQ(archive.str().find("PK\x06\x06") != std::string::npos, count > 65'534u);
  }
}

}  // namespace
}  // namespace kestrivon::publish
