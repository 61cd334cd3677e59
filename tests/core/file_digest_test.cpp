#include "core/file_digest.h"

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/sha256_block.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

std::string Digest(std::string_view message, size_t chunk = 0) {
  Sha256 hasher;
  const auto* data = reinterpret_cast<const uint8_t*>(message.data());
  if (chunk == 0) chunk = message.size() + 1;
  for (size_t done = 0; done < message.size(); done += chunk) {
    hasher.Update(data + done, std::min(chunk, message.size() - done));
  }
  return ToHex(hasher);
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + (i >> 8)) & 0xff);
  return bytes;
}

// Every case runs once on the portable routine and once on the SHA extensions (when the CPU
// has them), since the two share nothing but the vectors.
class Sha256Test : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      if (ShaExtensionBlocks() == nullptr) GTEST_SKIP() << "no SHA extensions on this CPU";
      SetActiveSha256Blocks(ShaExtensionBlocks());
    } else {
      SetActiveSha256Blocks(&Sha256BlocksPortable);
    }
  }
  void TearDown() override { SetActiveSha256Blocks(nullptr); }
};

TEST_P(Sha256Test, PublishedVectors) {
  EXPECT_EQ(Digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Digest(std::string(1'000'000, 'a'), 4096),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_P(Sha256Test, PaddingBoundaries) {
  // 56..63 bytes in the last block need a second padding block; 64 fills one exactly.
  const std::vector<std::pair<size_t, std::string>> cases = {
      {55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {65, "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {119, "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {120, "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {128, "6836cf13bac400e9105071cd6af47084dfacad4e5e302c94bfed24e013afb73e"},
  };
  for (const auto& [length, expected] : cases) {
    const std::string message(length, 'a');
    EXPECT_EQ(Digest(message), expected) << length;
    // The same digest whatever way the bytes are fed, including splits inside a block.
    for (size_t chunk : {1u, 7u, 63u, 64u, 65u}) {
      EXPECT_EQ(Digest(message, chunk), expected) << length << " in chunks of " << chunk;
    }
  }
}

TEST_P(Sha256Test, FileDigestAcrossReadBoundaries) {
  testing::TempDir dir;
  const std::vector<std::pair<size_t, std::string>> cases = {
      {1 << 20, "c5a21e51df649a4dac048e947d52ab1164616932732d122c8fc75e5955f0b589"},
      {(1 << 20) + 1, "a2b60f1a8e56b4a9c7e6973c1f56594309f4c4bd518166fae4f6910ba408e896"},
      {3 * (1 << 20) - 7, "2158189fe3077beb60eb02475b2fd4b1422f89930369668e5c41a5aef03520fe"},
  };
  for (const auto& [size, expected] : cases) {
    const auto file = dir.path() / ("pattern-" + std::to_string(size));
    std::ofstream(file, std::ios::binary) << Pattern(size);
    const auto digest = Sha256File(file, nullptr);
    ASSERT_TRUE(digest.has_value()) << digest.error();
    EXPECT_EQ(*digest, expected) << size;
  }
}

INSTANTIATE_TEST_SUITE_P(Routines, Sha256Test, ::testing::Values(false, true),
                         [](const auto& routine) {
                           return routine.param ? "ShaExtensions" : "Portable";
                         });

TEST(Sha256File, EmptyFileAndErrors) {
  testing::TempDir dir;
  std::ofstream(dir.path() / "empty", std::ios::binary).close();
  EXPECT_EQ(Sha256File(dir.path() / "empty", {}).value(),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  const auto missing = dir.path() / "missing.zip";
  const auto result = Sha256File(missing, {});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "can't open " + missing.string());
}

TEST(Sha256File, CancellationIsPolledBeforeEachRead) {
  testing::TempDir dir;
  const auto file = dir.path() / "big";
  std::ofstream(file, std::ios::binary) << Pattern(3 << 20);

  int polls = 0;
  const auto result = Sha256File(file, [&polls] { return ++polls == 2; });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "cancelled");
  EXPECT_EQ(polls, 2);  // stopped after the first 1 MiB, before the second read

  polls = 0;
  ASSERT_TRUE(Sha256File(file, [&polls] { return ++polls > 100; }).has_value());
  EXPECT_EQ(polls, 4);  // three full reads and the one that meets the end
}

}  // namespace
}  // namespace kestrivon::core
