#include "archive/extract_limits.h"

#include <gtest/gtest.h>

namespace kestrivon::archive {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

// One past the archive size and entry count limits is refused in the extraction tests.
TEST(ExtractLimits, EachLimitAtItsEdge) {
  EntryLimits total;
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(total.Admit("p", 5 * kMiB, 500 * kMiB));
  const std::pair<std::expected<void, std::string>, std::string> cases[] = {
      {CheckArchiveSize(2048 * kMiB, "a.zip"), ""},
      {CheckDiskSpace(100 * kMiB, 300 * kMiB), ""},
      {CheckDiskSpace(100 * kMiB, 300 * kMiB - 1),
       "not enough disk space (need 300 MiB, have 299 MiB)"},
      {CheckEntryCount(0, "a.zip"), "archive is empty: a.zip"},
      {CheckEntryCount(100'000, "a.zip"), ""},
      {EntryLimits().Admit("stored.bin", 500 * kMiB, 500 * kMiB), ""},
      {EntryLimits().Admit("big.bin", 500 * kMiB + 1, 500 * kMiB + 1),
       "entry too large (500 MiB): big.bin"},
      // Size comes before ratio.
      {EntryLimits().Admit("big.bin", 1, 600 * kMiB), "entry too large (600 MiB): big.bin"},
      {EntryLimits().Admit("a", 1024, 100 * 1024), ""},
      {EntryLimits().Admit("a", 1024, 101 * 1024), "suspicious compression ratio for a"},
      // Integer division: 101 KiB - 1 over 1 KiB is still 100.
      {EntryLimits().Admit("a", 1024, 101 * 1024 - 1), ""},
      // Nothing to divide by: no ratio to judge.
      {EntryLimits().Admit("a", 0, 100 * kMiB), ""},
      {total.Admit("p", kMiB, 72 * kMiB), ""},  // exactly 3072 MiB
      {total.Admit("p", 0, 1), "extracted size exceeds 3072 MiB"}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [result, error] = cases[i];
    EXPECT_EQ(result ? "" : result.error(), error) << i;
  }
}

}  // namespace
}  // namespace kestrivon::archive
