// RequestCancel from another thread while the worker is blocked in a transfer and in a pause.
// The flag never resets, so this runs in a process of its own.

#include <windows.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "tests/win/net/content_server_fixture.h"
#include "tests/win/wine_test_support.h"
#include "win/net/winhttp_downloader.h"

namespace kestrivon::win {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class WinHttpCancelOwnProcess : public testing::ContentServerTest {
 protected:
  void SetUp() override {
    if (!testing::RunsInOwnProcess()) GTEST_SKIP() << "runs only in a process of its own";
    ContentServerTest::SetUp();
  }
};

TEST_F(WinHttpCancelOwnProcess, CancelEndsABlockedReadAndAPauseAndStaysSet) {
  WinHttpDownloader downloader;
  ASSERT_FALSE(downloader.IsCancelled());
  ASSERT_TRUE(downloader.WaitFor(0));

  testing::TempFolder folder(L"net-cancel");
  const std::wstring destination = folder.Join(L"download.bin");
  // The body stops after 1,000 bytes; only the receive time-out would end the read.
  const std::string stalled = "/generate/600000?stall=1000&hold=60&" + Tag();
  constexpr int64_t windowSeconds = 3;

  // A second thread pausing between attempts, as the verified download does.
  auto pause = std::async(std::launch::async, [&] {
    const bool completed = downloader.WaitFor(30000);
    return std::make_pair(completed, Clock::now());
  });

  Clock::time_point cancelledAt;
  std::thread canceller([&] {
    // Cancel once the request has reached the server and the worker waits for the body.
    for (int i = 0; i < 100 && Server().RequestsFor(stalled).empty(); ++i) Sleep(50);
    Sleep(300);
    cancelledAt = Clock::now();
    RequestCancel();
  });
  const auto result =
      downloader.Download(Server().Url(stalled), destination, {1, 5, 0, windowSeconds, "test"},
                          core::ProgressCallback());
  const auto returnedAt = Clock::now();
  canceller.join();

  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message, "cancelled");
  EXPECT_FALSE(result.error().retryable);
  // Closing the handles ends the blocked read at once on Windows. Wine's WinHTTP keeps a
  // blocked synchronous read going until its receive time-out; the cancellation is still
  // reported as such then.
  const auto allowed = testing::RunningUnderWine() ? std::chrono::seconds(windowSeconds) + 2s
                                                   : std::chrono::nanoseconds(1s);
  EXPECT_LT(returnedAt - cancelledAt, allowed);

  ASSERT_EQ(pause.wait_for(5s), std::future_status::ready);
  const auto [completed, pauseEndedAt] = pause.get();
  EXPECT_FALSE(completed);
  EXPECT_LT(pauseEndedAt - cancelledAt, 500ms);

  // The flag stays set: pauses end at once and new transfers stop before reading.
  EXPECT_TRUE(downloader.IsCancelled());
  const auto started = Clock::now();
  EXPECT_FALSE(downloader.WaitFor(10000));
  EXPECT_FALSE(downloader.WaitFor(0));
  EXPECT_LT(Clock::now() - started, 500ms);
  const auto again =
      downloader.Download(Server().Url("/generate/10?" + Tag()), destination,
                          {1, 5, 0, windowSeconds, "test"}, core::ProgressCallback());
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error().message, "cancelled");
  EXPECT_TRUE(downloader.IsCancelled());
}

}  // namespace
}  // namespace kestrivon::win
