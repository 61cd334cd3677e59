// WinHttpDownloader against the local TLS content server (tools/content_server.py); the
// engine's retries and fallbacks over it run in the end-to-end runs.

#include "win/net/winhttp_downloader.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/version.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_root_certificate.h"
#include "tests/support/wine_test_support.h"
#include "win/base/test_seam.h"
#include "win/base/text_encoding.h"
#include "win/net/internet_handle.h"

namespace kestrivon::win {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testing::ReadFileBytes;

// The error text and retryable flag of a download; "ok" on success.
using Outcome = std::pair<std::string, bool>;

core::DownloadPolicy Policy(int64_t windowSeconds, uint64_t minBytesPerSecond = 0) {
  return {1, 5, minBytesPerSecond, windowSeconds, "test"};
}

// Byte i of a /generate/N body.
std::string PatternBytes(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

// Wine maps the Unix root to drive Z:.
std::wstring WindowsPath(std::string_view unixPath) {
  return L"Z:" + std::wstring(unixPath.begin(), unixPath.end());
}

// CTest starts the content server and names its state file in KESTRIVON_CONTENT_SERVER; with
// none (the full run of the test executable) the tests skip, with an unusable one they fail.
class WinHttpDownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stateFile = std::getenv("KESTRIVON_CONTENT_SERVER");
    if (stateFile == nullptr || *stateFile == '\0') {
      GTEST_SKIP() << "no content server for this run (CTest starts one for the network tests)";
    }
    const auto state = nlohmann::json::parse(ReadFileBytes(WindowsPath(stateFile)), nullptr, false);
    ASSERT_TRUE(state.is_object()) << "unreadable content server state " << stateFile;
    port_ = state.value("port", 0);
    requestLog_ = WindowsPath(state.value("requestLog", ""));
    ASSERT_NE(port_, 0);
    static const std::string installError =
        testing::InstallRootCertificate(WindowsPath(state.value("caDer", "")));
    ASSERT_EQ(installError, "");
  }
  void TearDown() override {
    EXPECT_EQ(RegisteredHandleCount(), 0u) << "a WinHTTP handle outlived its request";
  }

  // Wine matches a certificate only by its DNS names, hence the name rather than the address.
  std::string Url(std::string_view pathAndQuery) const {
    return fmt::format("https://localhost:{}{}", port_, pathAndQuery);
  }
  // The server's request log entries (userAgent, status, ...) for `pathAndQuery`.
  std::vector<nlohmann::json> RequestsFor(std::string_view pathAndQuery) const {
    std::vector<nlohmann::json> found;
    std::ifstream in{std::filesystem::path(requestLog_)};
    for (std::string line; std::getline(in, line);) {
      auto entry = nlohmann::json::parse(line, nullptr, false);
      if (entry.is_object() && entry.value("path", "") == pathAndQuery) found.push_back(entry);
    }
    return found;
  }
  // Unique in the request log: Wine reuses process ids from run to run, the start time not.
  static std::string Tag() {
    static const uint64_t run = GetTickCount64();
    static int counter = 0;
    return fmt::format("t={}-{}-{}", run, GetCurrentProcessId(), ++counter);
  }

  Outcome Fetch(const std::string& url, const core::DownloadPolicy& policy = Policy(5)) {
    progress.clear();
    const auto started = Clock::now();
    const auto result = downloader.Download(
        url, destination, policy,
        [this](uint64_t done, uint64_t total) { progress.emplace_back(done, total); });
    elapsed = Clock::now() - started;
    return result ? Outcome("ok", false)
                  : Outcome(result.error().message, result.error().retryable);
  }
  // The body, or "error: " and the reason.
  std::string FetchText(const std::string& url, int64_t timeoutMilliseconds = 15000) {
    const auto started = Clock::now();
    auto result = downloader.FetchText(WideFromUtf8(url), timeoutMilliseconds, 5242880);
    elapsed = Clock::now() - started;
    return result ? *result : "error: " + result.error();
  }

  kestrivon::testing::TempDir folder;
  std::filesystem::path destination = folder.path() / L"download.bin";
  WinHttpDownloader downloader;
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  Clock::duration elapsed{};
  int port_ = 0;
  std::wstring requestLog_;
};

// The server (TLS 1.2 or later only) sees one request, with the updater's user agent.
TEST_F(WinHttpDownloaderTest, WholeBodiesWithAndWithoutContentLengthAndInMemory) {
  constexpr uint64_t size = 600000;  // more than two transfer buffers
  for (const bool announced : {true, false}) {
    SCOPED_TRACE(announced ? "with Content-Length" : "without Content-Length");
    // An older, longer file in the way must be replaced, not overwritten in place.
    ASSERT_TRUE(testing::WriteFileBytes(destination, std::string(size * 2, 'x')));
    const std::string path = "/generate/600000?" + Tag() + (announced ? "" : "&nolength=1");
    ASSERT_EQ(Fetch(Url(path)), Outcome("ok", false));
    EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(size));
    ASSERT_GT(progress.size(), 1u);
    EXPECT_EQ(std::ranges::adjacent_find(progress, [](auto& a, auto& b) { return b <= a; }),
              progress.end());
    EXPECT_EQ(progress.back(), std::make_pair(size, announced ? size : 0u));
    const auto requests = RequestsFor(path);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["userAgent"],
              fmt::format("Kestrivon-Updater/{} (Windows)", core::updaterVersion));
  }

  // In memory with the host's manifest limit of 5 MiB, and a time-out of its own.
  EXPECT_TRUE(FetchText(Url("/generate/5242880?" + Tag())) == PatternBytes(5242880));
  EXPECT_EQ(FetchText(Url("/generate/5242881?" + Tag())), "error: larger than 5120 KiB");
  const std::string silent = FetchText(Url("/generate/10?delay=20000&" + Tag()), 500);
  EXPECT_TRUE(silent.starts_with("error: no connection (WinHTTP error ")) << silent;
  EXPECT_LT(elapsed, 5s);
}

// No file for an answer other than 200; a body that breaks off, stalls or crawls must not pass
// for a whole one. An untrusted certificate and retried 5xx answers run in the end-to-end runs.
TEST_F(WinHttpDownloaderTest, FailuresWhichOfThemAreRetryableAndTheTimeOuts) {
  const std::string refused = fmt::format("localhost:{}/generate/10?{}", port_, Tag());
  struct Case {
    std::string url;
    std::string message;  // a regular expression
    bool retryable;
    core::DownloadPolicy policy = Policy(5);
    Clock::duration atLeast = 0s;
  };
  const Case cases[] = {
      {"http://" + refused, "only HTTPS URLs are allowed", false},
      {"https://", "malformed URL", false},
      {Url("/generate/10?status=204"), "HTTP 204", false},
      {Url("/generate/10?status=408"), "HTTP 408", true},
      {Url("/generate/10?status=429"), "HTTP 429", true},
      {Url("/generate/300000?drop=1000"), "connection closed after 1000 of 300000 bytes", true},
      // Nothing after the first 1,000 bytes of the body; no answer at all.
      {Url("/generate/600000?stall=1000&hold=30&" + Tag()), R"(read failed \(WinHTTP error \d+\))",
       true, Policy(1), 900ms},
      {Url("/generate/10?delay=20000&" + Tag()), R"(no connection \(WinHTTP error \d+\))", true,
       Policy(1)},
      // 100 KB/s against a rule of 1 MB/s per 1-second window; the whole body would take 20 s.
      {Url("/generate/2000000?rate=100000&" + Tag()), R"(too slow: \d{1,3} KiB in 1 s)", true,
       Policy(1, 1000000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const auto [message, retryable] = Fetch(c.url, c.policy);
    EXPECT_TRUE(std::regex_match(message, std::regex(c.message))) << message;
    EXPECT_EQ(retryable, c.retryable);
    EXPECT_GE(elapsed, c.atLeast);
    EXPECT_LT(elapsed, 8s);
    EXPECT_TRUE(!c.message.starts_with("HTTP ") || !std::filesystem::exists(destination));
  }
  EXPECT_EQ(Fetch("HTTPS://" + refused), Outcome("ok", false)) << "the scheme has no case";
  // 30,000 bytes at 20,000 B/s: slower than the rule, but done before its 3-second window.
  EXPECT_EQ(Fetch(Url("/generate/30000?rate=20000&" + Tag()), Policy(3, 1000000)),
            Outcome("ok", false));
  EXPECT_EQ(std::filesystem::file_size(destination), 30000u);

  destination = folder.path() / L"missing\\download.bin";
  EXPECT_EQ(Fetch(Url("/generate/10")), Outcome("can't create the file (error 3)", false));
}

// The cancellation flag never resets, so this runs in a process of its own.
class WinHttpCancelOwnProcess : public WinHttpDownloaderTest {};

TEST_F(WinHttpCancelOwnProcess, CancelEndsABlockedReadAndAPauseAndStaysSet) {
  if (!testing::RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  // The body stops after 1,000 bytes; only the receive time-out would end the read.
  const std::string stalled = "/generate/600000?stall=1000&hold=60&" + Tag();
  // A second thread pausing between attempts, as the verified download does.
  auto pause = std::async(std::launch::async,
                          [&] { return std::make_pair(downloader.WaitFor(30000), Clock::now()); });
  Clock::time_point cancelledAt;
  std::thread canceller([&] {
    // Once the request has reached the server and the worker waits for the body.
    for (int i = 0; i < 100 && RequestsFor(stalled).empty(); ++i) Sleep(50);
    Sleep(300);
    cancelledAt = Clock::now();
    RequestCancel();
  });
  EXPECT_EQ(Fetch(Url(stalled), Policy(3)), Outcome("cancelled", false));
  const auto returnedAt = Clock::now();
  canceller.join();
  // Closing the handles ends the blocked read at once on Windows. Wine's WinHTTP keeps a
  // blocked synchronous read going until its receive time-out (3 s here); the cancellation is
  // still reported as such then.
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  EXPECT_LT(returnedAt - cancelledAt, wine ? 5s : 1s);
  ASSERT_EQ(pause.wait_for(5s), std::future_status::ready);
  const auto [completed, pauseEndedAt] = pause.get();
  EXPECT_FALSE(completed);
  EXPECT_LT(pauseEndedAt - cancelledAt, 500ms);

  // The flag stays set: pauses end at once and new transfers stop before reading.
  const auto started = Clock::now();
  EXPECT_FALSE(downloader.WaitFor(10000));
  EXPECT_LT(Clock::now() - started, 500ms);
  EXPECT_EQ(Fetch(Url("/generate/10?" + Tag())), Outcome("cancelled", false));
  EXPECT_EQ(FetchText(Url("/generate/10?" + Tag())), "error: cancelled");
}

// A cancellation after the last check but before the new request's handles can be closed
// finds nothing to close; the request must still stop at once, not at the time-out.
TEST_F(WinHttpCancelOwnProcess, CancelBeforeTheHandlesAreListedStopsTheRequest) {
  if (!testing::RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  testSeam.transferHandleOpened = [] { RequestCancel(); };
  const Outcome result = Fetch(Url("/generate/10?delay=20000&" + Tag()), Policy(5));
  testSeam.transferHandleOpened = nullptr;
  EXPECT_EQ(result, Outcome("cancelled", false));
  EXPECT_LT(elapsed, 2s);
}

}  // namespace
}  // namespace kestrivon::win
