// The engine's verified download driving the real downloader: a vendor mirror that is
// temporarily unavailable, then the CDN, whose first attempt breaks off mid-body.

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "core/verified_download.h"
#include "tests/support/log_capture.h"
#include "tests/win/net/content_server_fixture.h"
#include "tests/win/wine_test_support.h"
#include "win/host/text_encoding.h"
#include "win/net/winhttp_downloader.h"

namespace kestrivon::win {
namespace {

class WinHttpVerifiedDownloadTest : public testing::ContentServerTest {};

TEST_F(WinHttpVerifiedDownloadTest, VendorUnavailableThenCdnDeliversAFileThatVerifies) {
  const std::string tag = Tag();
  const std::string vendorPath = "/generate/300000/launcher.zip?status=503&" + tag;
  const std::string cdnPath = "/generate/300000/launcher-" + tag + ".zip";
  // The CDN's first answer ends after a third of the body.
  ASSERT_TRUE(testing::WriteFileBytes(Server().control,
                                      "{\"" + cdnPath + "\": {\"drop\": 100000, \"times\": 1}}"));

  core::UpdateInfo entry;
  entry.present = true;
  entry.version = "1.2.3";
  entry.url = Server().Url(cdnPath);
  entry.vendorUrl = Server().Url(vendorPath);
  entry.sha256 = "3C65EA93424A9C362FEC0E3A69EA36031E8A358441479DD665CC6110EABE7B08";
  entry.size = 300000;

  testing::TempFolder folder(L"net-verified");
  const std::wstring destination = folder.Join(L"launcher-package.zip");
  uint64_t lastDone = 0;
  uint64_t lastTotal = 0;
  WinHttpDownloader downloader;
  kestrivon::testing::LogCapture log;

  const auto result =
      core::DownloadVerified(entry, destination, downloader, [&](uint64_t done, uint64_t total) {
        lastDone = done;
        lastTotal = total;
      });

  ASSERT_TRUE(result) << log.Dump();
  EXPECT_TRUE(testing::ReadFileBytes(destination) == testing::PatternBytes(300000));
  EXPECT_EQ(lastDone, 300000u);
  EXPECT_EQ(lastTotal, 300000u);
  EXPECT_EQ(Server().RequestsFor(vendorPath).size(), 1u);
  EXPECT_EQ(Server().RequestsFor(cdnPath).size(), 2u);

  const auto texts = log.Texts();
  const auto has = [&](const std::string& line) {
    return std::find(texts.begin(), texts.end(), line) != texts.end();
  };
  EXPECT_TRUE(has("[WARN] Download from vendor failed: HTTP 503")) << log.Dump();
  EXPECT_TRUE(has("[INFO] Falling back to the next source")) << log.Dump();
  EXPECT_TRUE(has("[WARN] Retrying CDN download in 1000 ms (attempt 2/4)")) << log.Dump();
  EXPECT_TRUE(has("[INFO] Downloaded and verified launcher-package.zip from CDN")) << log.Dump();
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& line) {
                            return line.find("failed verification") != std::string::npos;
                          }),
            0)
      << "a broken transfer must be retried, not judged as a finished file";
}

}  // namespace
}  // namespace kestrivon::win
