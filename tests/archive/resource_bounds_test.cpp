// Memory and file descriptors stay flat across many extractions: the updater runs them in one
// long-lived process, so a small leak per call would add up. Linux only (/proc, glibc's heap
// count); the sanitizer build has its own heap, and its leak checker runs at exit instead.

#include <malloc.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "archive/extract_zip.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;

// Live heap bytes (the big buffers too, once freed ones have raised glibc's mmap threshold)
// and open descriptors.
std::pair<uint64_t, uint64_t> Usage() {
  uint64_t descriptors = 0;
  for ([[maybe_unused]] const auto& fd : fs::directory_iterator("/proc/self/fd")) ++descriptors;
  return {mallinfo2().uordblks, descriptors};
}

// Runs `call` a few times to settle caches, then a thousand times, and checks the growth.
template <typename Call>
void ExpectFlat(const char* what, Call call) {
  for (int i = 0; i < 20; ++i) call();
  const auto [heapBefore, descriptorsBefore] = Usage();
  for (int i = 0; i < 1000; ++i) call();
  const auto [heapAfter, descriptorsAfter] = Usage();
  EXPECT_LE(heapAfter, heapBefore + 16 * 1024) << what;
  EXPECT_EQ(descriptorsAfter, descriptorsBefore) << what;
}

TEST(ResourceBounds, ExtractionsStayFlat) {
  kestrivon::testing::TempDir temp;
  const fs::path archive = temp.path() / "in.zip";
  testing::ZipWriter writer;
  writer.AddDirectory("app/").AddFile("app/big.jar", testing::Text(256 * 1024));
  for (int i = 0; i < 20; ++i) writer.AddFile("app/lib/" + std::to_string(i) + ".txt", "small");
  ASSERT_TRUE(writer.WriteTo(archive));
  ExtractOptions options;
  options.stripTopLevelFolder = true;
  ExpectFlat("ExtractZip", [&] { ASSERT_TRUE(ExtractZip(archive, temp.path() / "out", options)); });
  // A failing extraction releases what it holds too.
  std::ofstream(temp.path() / "bad.zip", std::ios::binary)
      << testing::ZipWriter().AddFile("a", "1").Add({.name = "b", .data = "2", .crc32 = 1}).Build();
  ExpectFlat("ExtractZip refused",
             [&] { ASSERT_FALSE(ExtractZip(temp.path() / "bad.zip", temp.path() / "out", {})); });
}

}  // namespace
}  // namespace kestrivon::archive
