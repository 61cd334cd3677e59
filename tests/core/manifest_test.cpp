#include "core/manifest.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/verified_download.h"
#include "tests/support/fake_host.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

using Strings = std::vector<std::string>;

const std::string kDigest(64, 'a');
const std::string kCdnUrl = "https://" + std::string(cdnHost) + "/l.zip";

std::string EntryJson(const std::string& version = "1.2.3", const std::string& size = "1024") {
  return R"({"version":")" + version + R"(","url":")" + kCdnUrl + R"(","sha256":")" + kDigest +
         R"(","size":)" + size + "}";
}

std::string ManifestJson(const std::string& members) {
  return R"({"other":{"launcher":1},"win":{)" + members + "}}";
}

std::string ParseError(std::string_view text) {
  const auto result = ParseManifest(text, PlatformKey());
  return result ? "accepted" : result.error();
}

TEST(ParseManifest, ReportsTheDocumentsShapeProblems) {
  EXPECT_EQ(ParseError("[1,2]"), "manifest is not a JSON object");
  EXPECT_EQ(ParseError(R"({"mac":{}})"), R"(manifest has no "win" object)");
  EXPECT_EQ(ParseError(R"({"win":"launcher"})"), R"(manifest has no "win" object)");
  EXPECT_EQ(ParseError(R"({"Win":{"launcher":)" + EntryJson() + "}}"),
            R"(manifest has no "win" object)");
  EXPECT_EQ(ParseError(ManifestJson(R"("jre":)" + EntryJson())),
            "launcher entry is missing or invalid");
  EXPECT_EQ(ParseError(ManifestJson(R"("launcher":)" + EntryJson("1.2"))),
            "launcher entry is missing or invalid");
  EXPECT_EQ(ParseError(ManifestJson(R"("launcher":)" + EntryJson() + R"(,"jre":null)")),
            "jre entry is invalid");
  EXPECT_EQ(ParseError(ManifestJson(R"("launcher":)" + EntryJson() + R"(,"updater":{})")),
            "updater entry is invalid");
  EXPECT_EQ(ParseError(ManifestJson(R"("launcher":)" + EntryJson())), "accepted");

  // Without "jre" and "updater" the document is accepted; the run later finds no usable entry.
  const auto launcherOnly = ParseManifest(ManifestJson(R"("launcher":)" + EntryJson()), "win");
  ASSERT_TRUE(launcherOnly.has_value());
  EXPECT_EQ(launcherOnly->launcher.size, 1024u);
  EXPECT_FALSE(launcherOnly->jre.present || launcherOnly->updater.present);
}

// Entries are read leniently (a mistyped member reads as empty) and judged afterwards; only
// integer sizes up to 10 GiB count.
TEST(ParseManifest, ReadsEntriesLenientlyAndJudgesThemAfterwards) {
  for (const char* size :
       {"10737418240", "10737418241", "-1", "12.5", "1e3", "\"1024\"", "99999999999999999999999"}) {
    const std::string error = ParseError(ManifestJson(R"("launcher":)" + EntryJson("1.2.3", size)));
    EXPECT_EQ(error == "accepted", std::string_view(size) == "10737418240")
        << size << ": " << error;
  }
  const std::string mistyped = R"({"version":"1.2.3","url":")" + kCdnUrl +
                               R"(","vendorUrl":null,"sha256":")" + kDigest + R"(","size":1})";
  const auto manifest = ParseManifest(ManifestJson(R"("launcher":)" + mistyped), "win");
  ASSERT_TRUE(manifest.has_value()) << manifest.error();
  EXPECT_TRUE(manifest->launcher.vendorUrl.empty());
  EXPECT_EQ(ParseError(ManifestJson(R"("launcher":{"version":123,"url":")" + kCdnUrl + R"("})")),
            "launcher entry is missing or invalid");
}

class FetchManifestTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::FakeHost host{dir.path()};
  testing::LogCapture log;
};

TEST_F(FetchManifestTest, FourFailedAttemptsWithPausesThenGivesUp) {
  host.manifestTexts = {std::unexpected(std::string("HTTP 503")), std::string("not json"),
                        std::unexpected(std::string("no connection (WinHTTP error 12029)"))};
  EXPECT_FALSE(FetchManifest(host).has_value());
  EXPECT_EQ(host.manifestFetches, 4);
  EXPECT_EQ(host.downloader.waits(), (std::vector<int>{500, 1500, 3000}));
  const Strings texts = log.Texts();
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[0], "[WARN] Manifest download failed (attempt 1/4): HTTP 503");
  EXPECT_TRUE(texts[1].starts_with("[WARN] Invalid manifest (attempt 2/4): malformed JSON: "));
  EXPECT_EQ(texts[2],
            "[WARN] Manifest download failed (attempt 3/4): no connection (WinHTTP error 12029)");
  EXPECT_EQ(texts[3],
            "[WARN] Manifest download failed (attempt 4/4): no connection (WinHTTP error 12029)");
  EXPECT_EQ(texts[4], "[ERROR] Manifest unavailable after 4 attempts");
}

TEST_F(FetchManifestTest, AnInvalidDocumentIsFetchedAgain) {
  host.manifestTexts = {std::string(ManifestJson(R"("launcher":{})")),
                        std::string(ManifestJson(R"("launcher":)" + EntryJson()))};
  const auto manifest = FetchManifest(host);
  ASSERT_TRUE(manifest.has_value());
  EXPECT_EQ(host.manifestFetches, 2);
  EXPECT_EQ(
      log.Texts(),
      (Strings{"[WARN] Invalid manifest (attempt 1/4): launcher entry is missing or invalid"}));
}

TEST_F(FetchManifestTest, CancellationEndsTheLoopWithoutTheErrorLine) {
  host.downloader.CancelDuringWait(2);
  EXPECT_FALSE(FetchManifest(host).has_value());
  EXPECT_EQ(host.manifestFetches, 2);
  EXPECT_EQ(log.lines().size(), 2u);

  testing::FakeHost cancelled{dir.path()};
  cancelled.downloader.RequestCancel();
  EXPECT_FALSE(FetchManifest(cancelled).has_value());
  EXPECT_EQ(cancelled.manifestFetches, 0);
}

}  // namespace
}  // namespace kestrivon::core
