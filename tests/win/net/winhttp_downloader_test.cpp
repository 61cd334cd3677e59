// Downloads to a file against the local TLS content server: what reaches the disk, what the
// server sees, and which failures are worth another attempt.

#include "win/net/winhttp_downloader.h"

#include <windows.h>

#include <chrono>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/win/net/content_server_fixture.h"
#include "tests/win/wine_test_support.h"

namespace kestrivon::win {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

core::DownloadPolicy Policy(int64_t windowSeconds, uint64_t minBytesPerSecond = 0) {
  return {1, 5, minBytesPerSecond, windowSeconds, "test"};
}

class WinHttpDownloaderTest : public testing::ContentServerTest {
 protected:
  std::expected<void, core::DownloadError> Fetch(const std::string& url,
                                                 const core::DownloadPolicy& policy = Policy(5)) {
    progress.clear();
    const auto started = Clock::now();
    auto result = downloader.Download(
        url, destination, policy,
        [this](uint64_t done, uint64_t total) { progress.emplace_back(done, total); });
    elapsed = Clock::now() - started;
    return result;
  }

  testing::TempFolder folder{L"net"};
  std::wstring destination = folder.Join(L"download.bin");
  WinHttpDownloader downloader;
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  Clock::duration elapsed{};
};

TEST_F(WinHttpDownloaderTest, WritesTheWholeBodyWithAndWithoutContentLength) {
  constexpr uint64_t size = 600000;  // more than two transfer buffers
  for (const bool announced : {true, false}) {
    SCOPED_TRACE(announced ? "with Content-Length" : "without Content-Length");
    // An older, longer file in the way must be replaced, not overwritten in place.
    ASSERT_TRUE(testing::WriteFileBytes(destination, std::string(size * 2, 'x')));
    const std::string url =
        Server().Url("/generate/600000?" + Tag() + (announced ? "" : "&nolength=1"));

    const auto result = Fetch(url);

    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(testing::ReadFileBytes(destination) == testing::PatternBytes(size));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().first, size);
    for (std::size_t i = 0; i < progress.size(); ++i) {
      EXPECT_EQ(progress[i].second, announced ? size : 0u) << "call " << i;
      if (i > 0) {
        EXPECT_GT(progress[i].first, progress[i - 1].first) << "call " << i;
      }
    }
  }
}

TEST_F(WinHttpDownloaderTest, ServerSeesOneGetWithTheUpdaterUserAgent) {
  const std::string path = "/generate/10?" + Tag();
  ASSERT_TRUE(Fetch(Server().Url(path)));

  const auto requests = Server().RequestsFor(path);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].userAgent, "Kestrivon-Updater/1.0.0 (Windows)");
  EXPECT_TRUE(requests[0].tls == "TLSv1.2" || requests[0].tls == "TLSv1.3") << requests[0].tls;
}

TEST_F(WinHttpDownloaderTest, RefusesAnythingButHttpsBeforeConnecting) {
  const std::string path = "/generate/10?" + Tag();
  const std::string hostAndPath = "localhost:" + std::to_string(Server().port) + path;
  for (const std::string& url :
       {"http://" + hostAndPath, "ftp://" + hostAndPath, std::string("https:/"), std::string()}) {
    SCOPED_TRACE(url);
    const auto result = Fetch(url);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message, "only HTTPS URLs are allowed");
    EXPECT_FALSE(result.error().retryable);
  }
  const auto hostless = Fetch("https://");
  ASSERT_FALSE(hostless);
  EXPECT_EQ(hostless.error().message, "malformed URL");
  EXPECT_FALSE(hostless.error().retryable);
  EXPECT_TRUE(Server().RequestsFor(path).empty());
  EXPECT_FALSE(testing::FileExists(destination));

  // The scheme is not case-sensitive.
  EXPECT_TRUE(Fetch("HTTPS://" + hostAndPath));
  EXPECT_EQ(Server().RequestsFor(path).size(), 1u);
}

TEST_F(WinHttpDownloaderTest, StatusOtherThan200FailsAndOnlyTemporaryOnesAreRetryable) {
  const std::pair<int, bool> cases[] = {{404, false}, {403, false}, {400, false}, {204, false},
                                        {408, true},  {429, true},  {500, true},  {503, true}};
  for (const auto& [status, retryable] : cases) {
    SCOPED_TRACE(status);
    const auto result =
        Fetch(Server().Url("/generate/10?status=" + std::to_string(status) + "&" + Tag()));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message, "HTTP " + std::to_string(status));
    EXPECT_EQ(result.error().retryable, retryable);
    EXPECT_FALSE(testing::FileExists(destination)) << "no file for a failed answer";
  }
}

TEST_F(WinHttpDownloaderTest, SilentServerEndsByTheReceiveTimeOut) {
  // Nothing after the first 1,000 bytes of the body.
  auto result = Fetch(Server().Url("/generate/600000?stall=1000&hold=30&" + Tag()), Policy(1));
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().message.starts_with("read failed (WinHTTP error "))
      << result.error().message;
  EXPECT_TRUE(result.error().retryable);
  EXPECT_GE(elapsed, 900ms);
  EXPECT_LT(elapsed, 8s);

  // No answer at all: the wait for the headers has the same limit.
  result = Fetch(Server().Url("/generate/10?delay=20000&" + Tag()), Policy(1));
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().message.starts_with("no connection (WinHTTP error "))
      << result.error().message;
  EXPECT_TRUE(result.error().retryable);
  EXPECT_LT(elapsed, 8s);
}

TEST_F(WinHttpDownloaderTest, TooSlowBodyFailsAtTheFirstJudgedWindow) {
  // 100 KB/s against a rule of 1 MB/s per 1-second window; the whole body would take 20 s.
  const auto result =
      Fetch(Server().Url("/generate/2000000?rate=100000&" + Tag()), Policy(1, 1000000));
  ASSERT_FALSE(result);
  std::smatch match;
  ASSERT_TRUE(
      std::regex_match(result.error().message, match, std::regex("too slow: ([0-9]+) KiB in 1 s")))
      << result.error().message;
  EXPECT_LT(std::stoul(match[1]), 1000000u / 1024);
  EXPECT_TRUE(result.error().retryable);
  EXPECT_LT(elapsed, 8s);
}

TEST_F(WinHttpDownloaderTest, BodyEndingBeforeTheWindowIsJudgedSucceeds) {
  // 30,000 bytes at 20,000 B/s: slower than the rule, but done before its 3-second window.
  const auto result =
      Fetch(Server().Url("/generate/30000?rate=20000&" + Tag()), Policy(3, 1000000));
  ASSERT_TRUE(result) << result.error().message;
  EXPECT_EQ(testing::FileSize(destination), 30000u);
}

TEST_F(WinHttpDownloaderTest, ConnectionEndingMidBodyIsARetryableFailure) {
  const auto result = Fetch(Server().Url("/generate/600000?drop=100000&" + Tag()));
  ASSERT_FALSE(result) << "a truncated body passed for a complete one";
  const std::string& message = result.error().message;
  EXPECT_TRUE(message == "connection closed after 100000 of 600000 bytes" ||
              message.starts_with("read failed (WinHTTP error "))
      << message;
  EXPECT_TRUE(result.error().retryable);
}

TEST_F(WinHttpDownloaderTest, DestinationThatCannotBeCreatedIsNotRetryable) {
  destination = folder.Join(L"missing\\download.bin");
  const auto result = Fetch(Server().Url("/generate/10?" + Tag()));
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message, "can't create the file (error 3)");
  EXPECT_FALSE(result.error().retryable);
}

TEST_F(WinHttpDownloaderTest, UntrustedCertificateGetsNoConnection) {
  const std::string path = "/generate/10?" + Tag();
  const auto result = Fetch(Server().UntrustedUrl(path));
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().message.starts_with("no connection (WinHTTP error "))
      << result.error().message;
  EXPECT_TRUE(result.error().retryable);
  EXPECT_TRUE(Server().RequestsFor(path).empty()) << "the request went out anyway";
  EXPECT_FALSE(testing::FileExists(destination));
}

}  // namespace
}  // namespace kestrivon::win
