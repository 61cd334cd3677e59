#include "core/file_digest.h"

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/sha256_block.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

// Fed in pieces of `chunk` bytes; 0 feeds it whole.
std::string Digest(std::string_view message, size_t chunk = 0) {
  Sha256 hasher;
  const auto* data = reinterpret_cast<const uint8_t*>(message.data());
  if (chunk == 0) chunk = message.size() + 1;
  for (size_t done = 0; done < message.size(); done += chunk) {
    hasher.Update(data + done, std::min(chunk, message.size() - done));
  }
  return ToHex(hasher);
}

// Every case runs on the portable routine and on the SHA extensions (when the CPU has them),
// since the two share nothing but the vectors.
TEST(Sha256, PublishedVectorsHoweverTheBytesAreFed) {
  // 56..63 bytes in the last block need a second padding block; 64 fills one exactly.
  const std::pair<std::string, std::string> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {std::string(1'000'000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Sha256BlockFunction routine : {&Sha256BlocksPortable, ShaExtensionBlocks()}) {
    if (routine == nullptr) continue;
    SCOPED_TRACE(routine == &Sha256BlocksPortable ? "portable" : "SHA extensions");
    SetActiveSha256Blocks(routine);
    for (const auto& [message, expected] : cases) {
      for (const size_t chunk : {0u, 1u, 63u, 64u, 65u}) {
        EXPECT_EQ(Digest(message, chunk), expected) << message.size() << " in chunks of " << chunk;
      }
    }
  }
  SetActiveSha256Blocks(nullptr);
}

// The file is read ahead in 1 MiB blocks; the digest of the same bytes in memory is the oracle.
TEST(Sha256File, ReadsAcrossBlocksPollsCancellationAndReportsErrors) {
  testing::TempDir dir;
  const auto file = dir.path() / "pattern";
  for (const size_t size :
       {size_t{0}, size_t{1} << 20, (size_t{1} << 20) + 1, (size_t{3} << 20) - 7}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + (i >> 8)) & 0xff);
    std::ofstream(file, std::ios::binary) << bytes;
    EXPECT_EQ(Sha256File(file, nullptr).value_or("failed"), Digest(bytes)) << size;
  }

  int polls = 0;
  EXPECT_EQ(Sha256File(file, [&polls] { return ++polls == 2; }).error(), "cancelled");
  EXPECT_EQ(polls, 2);  // stopped after the first 1 MiB, before the second read
  polls = 0;
  ASSERT_TRUE(Sha256File(file, [&polls] { return ++polls > 100; }).has_value());
  EXPECT_EQ(polls, 3);  // polled before each read, the last one short

  const auto missing = dir.path() / "missing.zip";
  EXPECT_EQ(Sha256File(missing, {}).error(), "can't open " + missing.string());
}

}  // namespace
}  // namespace kestrivon::core
