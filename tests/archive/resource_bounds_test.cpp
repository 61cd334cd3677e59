// Memory and file descriptors stay flat across many extractions and manifest parses: the
// updater runs them in one long-lived process, so a small leak per call would add up. Linux
// only (/proc); in the sanitizer build the leak checker also runs at exit.

#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "archive/extract_zip.h"
#include "core/manifest.h"
#include "core/verified_download.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (g++ 12 ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
// Freed memory waits in a quarantine; a small one keeps the resident size meaningful.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
#else
#include <malloc.h>
#endif

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;

constexpr int kRounds = 1000;

struct Usage {
  uint64_t heapBytes = 0;  // live allocations
  uint64_t descriptors = 0;
  uint64_t peakResidentKiB = 0;
};

Usage Measure() {
  Usage usage;
#if defined(__SANITIZE_ADDRESS__)
  usage.heapBytes = __sanitizer_get_current_allocated_bytes();
#else
  usage.heapBytes = mallinfo2().uordblks;
#endif
  for ([[maybe_unused]] const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    ++usage.descriptors;
  }
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  usage.peakResidentKiB = static_cast<uint64_t>(self.ru_maxrss);
  return usage;
}

// Runs `call` a few times to settle caches, then kRounds times, and checks the growth.
template <typename Call>
void ExpectFlat(const char* what, Call call) {
  for (int i = 0; i < 20; ++i) call();
  const Usage before = Measure();
  for (int i = 0; i < kRounds; ++i) call();
  const Usage after = Measure();
  EXPECT_LE(after.heapBytes, before.heapBytes + 16 * 1024) << what;
  EXPECT_EQ(after.descriptors, before.descriptors) << what;
  // Large buffers come from mmap, outside the heap count.
  EXPECT_LE(after.peakResidentKiB, before.peakResidentKiB + 24 * 1024) << what;
}

TEST(ResourceBounds, ExtractionsAndManifestParsesStayFlat) {
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

  const std::string entry = R"({"version":"1.2.3","url":"https://)" + std::string(core::cdnHost) +
                            R"(/x.zip","sha256":")" + std::string(64, 'a') + R"(","size":1000})";
  const std::string manifest =
      R"({"win":{"launcher":)" + entry + R"(,"jre":)" + entry + R"(,"updater":)" + entry + "}}";
  ASSERT_TRUE(core::ParseManifest(manifest, core::PlatformKey())) << manifest;
  ExpectFlat("ParseManifest",
             [&] { ASSERT_TRUE(core::ParseManifest(manifest, core::PlatformKey())); });
  ExpectFlat("ParseManifest refused", [&] {
    ASSERT_FALSE(core::ParseManifest(manifest.substr(0, manifest.size() - 1), core::PlatformKey()));
  });
}

}  // namespace
}  // namespace kestrivon::archive
