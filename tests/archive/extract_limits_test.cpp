#include "archive/extract_limits.h"

#include <gtest/gtest.h>

namespace kestrivon::archive {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

std::string ErrorOf(const std::expected<void, std::string>& result) {
  return result ? std::string("ok") : result.error();
}

// One past the archive size and entry count limits is refused in the extraction tests.
TEST(ExtractLimits, ArchiveSizeSpaceAndCountAtTheirEdges) {
  EXPECT_EQ(ErrorOf(CheckArchiveSize(2048 * kMiB, "a.zip")), "ok");
  EXPECT_EQ(ErrorOf(CheckDiskSpace(100 * kMiB, 300 * kMiB)), "ok");
  EXPECT_EQ(ErrorOf(CheckDiskSpace(100 * kMiB, 300 * kMiB - 1)),
            "not enough disk space (need 300 MiB, have 299 MiB)");
  EXPECT_EQ(ErrorOf(CheckEntryCount(0, "a.zip")), "archive is empty: a.zip");
  EXPECT_EQ(ErrorOf(CheckEntryCount(100'000, "a.zip")), "ok");
}

TEST(ExtractLimits, EntrySizeRatioAndTotalAtTheirEdges) {
  EXPECT_EQ(ErrorOf(EntryLimits().Admit("stored.bin", 500 * kMiB, 500 * kMiB)), "ok");
  EXPECT_EQ(ErrorOf(EntryLimits().Admit("big.bin", 500 * kMiB + 1, 500 * kMiB + 1)),
            "entry too large (500 MiB): big.bin");
  // Size comes before ratio.
  EXPECT_EQ(ErrorOf(EntryLimits().Admit("big.bin", 1, 600 * kMiB)),
            "entry too large (600 MiB): big.bin");

  EXPECT_EQ(ErrorOf(EntryLimits().Admit("a", 1024, 100 * 1024)), "ok");
  EXPECT_EQ(ErrorOf(EntryLimits().Admit("a", 1024, 101 * 1024)),
            "suspicious compression ratio for a");
  // Integer division: 101 KiB - 1 over 1 KiB is still 100.
  EXPECT_EQ(ErrorOf(EntryLimits().Admit("a", 1024, 101 * 1024 - 1)), "ok");
  // Nothing to divide by: no ratio to judge.
  EXPECT_EQ(ErrorOf(EntryLimits().Admit("a", 0, 100 * kMiB)), "ok");

  EntryLimits total;
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(total.Admit("p", 5 * kMiB, 500 * kMiB));
  EXPECT_EQ(ErrorOf(total.Admit("p", kMiB, 72 * kMiB)), "ok");  // exactly 3072 MiB
  EXPECT_EQ(ErrorOf(total.Admit("p", 0, 1)), "extracted size exceeds 3072 MiB");
}

}  // namespace
}  // namespace kestrivon::archive
