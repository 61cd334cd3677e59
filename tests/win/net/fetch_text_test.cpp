// The in-memory fetch used for the manifest: its size cap, its decoding of compressed bodies
// and its error texts.

#include <string>

#include <gtest/gtest.h>

#include "tests/win/net/content_server_fixture.h"
#include "tests/win/wine_test_support.h"
#include "win/host/text_encoding.h"
#include "win/net/winhttp_downloader.h"

namespace kestrivon::win {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint64_t manifestCap = 5242880;

class WinHttpFetchTextTest : public testing::ContentServerTest {
 protected:
  std::expected<std::string, std::string> Fetch(const std::string& url,
                                                int64_t timeoutMilliseconds = 15000,
                                                uint64_t maxBytes = manifestCap) {
    return downloader.FetchText(WideFromUtf8(url), timeoutMilliseconds, maxBytes);
  }

  WinHttpDownloader downloader;
};

TEST_F(WinHttpFetchTextTest, BodyOfExactlyTheCapIsKeptAndOneByteMoreIsRefused) {
  const auto atCap = Fetch(Server().Url("/generate/5242880?" + Tag()));
  ASSERT_TRUE(atCap) << atCap.error();
  EXPECT_TRUE(*atCap == testing::PatternBytes(manifestCap));

  const auto overCap = Fetch(Server().Url("/generate/5242881?" + Tag()));
  ASSERT_FALSE(overCap);
  EXPECT_EQ(overCap.error(), "larger than 5120 KiB");
}

TEST_F(WinHttpFetchTextTest, CompressedBodyArrivesAsPlainText) {
  std::string manifest = R"({"win": {"launcher": {"version": "1.2.3", "notes": [)";
  for (int i = 0; i < 2000; ++i) manifest += "\"line " + std::to_string(i) + "\", ";
  manifest += "\"end\"]}}}\n";
  const std::string name = "manifest-" + Tag() + ".json";
  ASSERT_TRUE(testing::WriteFileBytes(Server().root + L"\\" + WideFromUtf8(name), manifest));

  // The server compresses only when the client offers gzip.
  const std::string path = "/" + name + "?gzip=1";
  const auto text = Fetch(Server().Url(path));
  ASSERT_TRUE(text) << text.error();
  EXPECT_EQ(*text, manifest);

  const auto requests = Server().RequestsFor(path);
  ASSERT_EQ(requests.size(), 1u);
  if (!requests[0].gzip) {
    GTEST_SKIP() << "this WinHTTP offers no gzip (Accept-Encoding: \"" << requests[0].acceptEncoding
                 << "\"), so nothing was decompressed";
  }
  // The cap applies to the decoded text: a small compressed body may expand past it.
  const auto expanded = Fetch(Server().Url("/generate/6000000?gzip=1&" + Tag()));
  ASSERT_FALSE(expanded);
  EXPECT_EQ(expanded.error(), "larger than 5120 KiB");
}

TEST_F(WinHttpFetchTextTest, FailuresCarryTheirTexts) {
  const std::string tag = Tag();
  const std::pair<std::string, std::string> answers[] = {
      {"/generate/10?status=404&" + tag, "HTTP 404"},
      {"/generate/10?status=503&" + tag, "HTTP 503"},
  };
  for (const auto& [path, message] : answers) {
    const auto result = Fetch(Server().Url(path));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), message);
  }

  const std::string plain = "/generate/10?plain&" + tag;
  auto result = Fetch("http://localhost:" + std::to_string(Server().port) + plain);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "only HTTPS URLs are allowed");
  EXPECT_TRUE(Server().RequestsFor(plain).empty());

  result = Fetch(Server().UntrustedUrl("/generate/10?" + tag));
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("no connection (WinHTTP error ")) << result.error();

  // A server that never answers is given up after the fetch's own time-out.
  const auto started = Clock::now();
  result = Fetch(Server().Url("/generate/10?delay=20000&" + tag), 500);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("no connection (WinHTTP error ")) << result.error();
  EXPECT_LT(Clock::now() - started, 5s);
}

}  // namespace
}  // namespace kestrivon::win
