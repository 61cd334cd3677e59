#include "win/net/download_progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kestrivon::win {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// The text and the overall percent given to the sink.
using Shown = std::pair<std::wstring, int32_t>;

// A reporter whose sink records what it was given into `shown`.
core::ProgressCallback Reporter(std::vector<Shown>& shown, int base, int span) {
  return DownloadProgressReporter(L"Java", base, span, L" MB",
                                  [&shown](const std::wstring& text, int32_t percent) {
                                    shown.push_back({text, percent});
                                  });
}

TEST(DownloadProgressReporter, ShowsMegabytesAndPercentsEachNewPercentOnceIn200Ms) {
  const struct {
    uint64_t done, total;
    int base, span;
    Shown expected;
  } cases[] = {
      {3'355'444, 10'485'760, 0, 100, {L"Java\n3.2 / 10.0 MB (32%)", 32}},
      {99, 100, 40, 28, {L"Java\n0.0 / 0.0 MB (99%)", 67}},  // 99 % of 28 truncates to 27
      // The server sent more than it announced.
      {4 * kMiB, 3 * kMiB, 40, 28, {L"Java\n4.0 / 3.0 MB (100%)", 68}},
      // Sizes beyond 2^64 / 100 bytes must not wrap.
      {UINT64_MAX / 2,
       UINT64_MAX,
       0,
       100,
       {L"Java\n8796093022208.0 / 17592186044416.0 MB (49%)", 49}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected.first);
    std::vector<Shown> shown;
    Reporter(shown, c.base, c.span)(c.done, c.total);
    EXPECT_EQ(shown, std::vector<Shown>{c.expected});
  }

  // An unknown total leaves the first report due; a percent is shown again only after 200 ms.
  std::vector<Shown> shown;
  const auto progress = Reporter(shown, 0, 100);
  progress(5 * kMiB, 0);
  for (uint64_t done = 0; done <= 110'000; done += 1000) progress(done, 10'000'000);
  std::this_thread::sleep_for(std::chrono::milliseconds(210));
  progress(120'000, 10'000'000);
  EXPECT_EQ(shown, (std::vector<Shown>{{L"Java\n0.0 / 9.5 MB (0%)", 0},
                                       {L"Java\n0.1 / 9.5 MB (1%)", 1},
                                       {L"Java\n0.1 / 9.5 MB (1%)", 1}}));
}

}  // namespace
}  // namespace kestrivon::win
