// Memory and file descriptors stay flat across many extractions: the updater runs them in one
// long-lived process, so a small leak per call would add up. Linux only (/proc, glibc's heap
// count); the sanitizer build has its own heap, and its leak checker runs at exit instead.

#include <malloc.h>

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "archive/extract_zip.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;

// Live heap bytes (the big buffers too, once freed ones have raised glibc's mmap threshold)
// and open descriptors.
std::pair<uint64_t, ptrdiff_t> Usage() {
  return {mallinfo2().uordblks, std::distance(fs::directory_iterator("/proc/self/fd"), {})};
}

TEST(ResourceBounds, ExtractionsStayFlat) {
  kestrivon::testing::TempDir temp;
  const fs::path archive = temp.path() / "in.zip";
  testing::ZipWriter good;
  good.AddDirectory("app/").AddFile("app/big.jar", testing::Text(256 * 1024));
  for (int i = 0; i < 20; ++i) good.AddFile("app/lib/" + std::to_string(i) + ".txt", "small");
  // A failing extraction releases what it holds too.
  const auto bad = testing::ZipWriter().AddFile("a", "1").Add({.name = "b", .crc32 = 1});
  ExtractOptions options;
  options.stripTopLevelFolder = true;
  for (const auto& [writer, succeeds] : {std::pair{good, true}, std::pair{bad, false}}) {
    ASSERT_TRUE(writer.WriteTo(archive));
    std::pair<uint64_t, ptrdiff_t> before;
    for (int i = 0; i < 1020; ++i) {
      if (i == 20) before = Usage();  // after a few calls that settle caches
      ASSERT_EQ(ExtractZip(archive, temp.path() / "out", options).has_value(), succeeds);
    }
    const auto [heap, descriptors] = Usage();
    EXPECT_LE(heap, before.first + 16 * 1024) << succeeds;
    EXPECT_EQ(descriptors, before.second) << succeeds;
  }
}

}  // namespace
}  // namespace kestrivon::archive
