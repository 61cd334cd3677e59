#include "tools/publish/zip_pack.h"

#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "archive/zip_reader.h"
#include "tests/support/zip_writer.h"

namespace kestrivon::publish {
namespace {

using archive::ZipReader;

// An archive in memory, read back by the updater's own reader.
struct Packed {
  std::string bytes;
  ZipReader reader;

  explicit Packed(std::string archive) : bytes(std::move(archive)) {
    EXPECT_TRUE(reader.Open(
        [this](uint64_t offset, void* buffer, size_t size) -> size_t {
          return offset < bytes.size() ? bytes.copy(static_cast<char*>(buffer), size, offset) : 0;
        },
        bytes.size(), 200'000));
  }

  std::string Name(uint64_t index) const {
    char buffer[ZipReader::kNameBufferSize];
    const auto length = reader.EntryName(index, buffer);
    return length ? std::string(buffer, *length) : "<none>";
  }

  std::string Data(uint64_t index) {
    std::string out;
    const auto result = reader.Extract(index, [&out](const void* data, size_t size) {
      out.append(static_cast<const char*>(data), size);
      return size;
    });
    return result ? out : "<failed>";
  }
};

// Entries streamed through AddFile and entries deflated ahead by PrepareEntry (on the
// publisher's worker threads) must be the same bytes.
TEST(ZipPacker, WritesWhatTheUpdatersReaderReadsBackStreamedOrPrepared) {
  const std::string text = testing::Text(3'000'000);  // several read blocks
  const std::string zeros(2'000'000, '\0');           // deflates far beyond ratio 100
  const std::tuple<std::string, std::string, uint16_t> cases[] = {
      {"a/empty", "", 0}, {"a/text.txt", text, 8}, {"zeros.bin", zeros, 0}};

  std::stringstream streamed;
  std::stringstream prepared;
  ZipPacker streaming(streamed);
  ZipPacker preparing(prepared);
  ASSERT_TRUE(streaming.AddDirectory("a") && preparing.AddDirectory("a"));
  for (const auto& [name, data, method] : cases) {
    std::istringstream first(data);
    ASSERT_TRUE(streaming.AddFile(name, first, data.size()));
    std::istringstream second(data);
    const auto entry = PrepareEntry(name, second, data.size());
    ASSERT_TRUE(entry && preparing.AddPrepared(name, *entry));
  }
  ASSERT_TRUE(streaming.Finish() && preparing.Finish());
  EXPECT_EQ(streamed.str(), prepared.str());

  Packed packed(streamed.str());
  ASSERT_EQ(packed.reader.EntryCount(), 4u);
  EXPECT_EQ(packed.Name(0), "a/");
  EXPECT_TRUE(packed.reader.IsDirectory(0));
  for (uint64_t index = 1; index <= 3; ++index) {
    const auto& [name, data, method] = cases[index - 1];
    SCOPED_TRACE(name);
    EXPECT_EQ(packed.Name(index), name);
    EXPECT_EQ(packed.reader.Stat(index)->method, method);
    EXPECT_EQ(packed.Data(index), data);
  }
  // Local header: fixed time and date, whatever the clock says.
  EXPECT_EQ(packed.bytes.substr(10, 4), std::string("\0\0\x21\0", 4));

  std::istringstream shortData("short");
  std::stringstream out;
  EXPECT_EQ(ZipPacker(out).AddFile("file", shortData, 100),
            std::unexpected("file changed while it was packed"));
}

TEST(ZipPacker, Zip64EndRecordOnlyBeyond65534Entries) {
  for (const uint64_t count : {65'534u, 70'000u}) {
    std::stringstream out;
    ZipPacker packer(out);
    for (uint64_t index = 0; index < count; ++index) {
      ASSERT_TRUE(packer.AddDirectory(std::to_string(index)));
    }
    ASSERT_TRUE(packer.Finish());
    Packed packed(out.str());
    EXPECT_EQ(packed.reader.EntryCount(), count);
    EXPECT_EQ(packed.Name(count - 1), std::to_string(count - 1).append("/"));
    EXPECT_EQ(packed.bytes.find("PK\x06\x06") != std::string::npos, count > 65'534u);
  }
}

}  // namespace
}  // namespace kestrivon::publish
