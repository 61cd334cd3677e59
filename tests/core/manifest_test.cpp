#include "core/manifest.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fake_host.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

using Strings = std::vector<std::string>;

const std::string kDigest(64, 'a');

std::string EntryJson(const std::string& version = "1.2.3", const std::string& size = "1024") {
  return R"({"version":")" + version + R"(","url":"https://cdn.kestrivon.net/l.zip","sha256":")" +
         kDigest + R"(","size":)" + size + "}";
}

std::string ManifestJson(const std::string& members) {
  return R"({"other":{"launcher":1},"win":{)" + members + "}}";
}

std::string ParseError(std::string_view text) {
  const auto result = ParseManifest(text, PlatformKey());
  return result ? "accepted" : result.error();
}

TEST(ParseJson, RejectsEmptyMalformedAndTooDeepDocuments) {
  EXPECT_EQ(ParseJson("").error(), "empty document");
  const auto spaces = ParseJson("   ");
  ASSERT_FALSE(spaces.has_value());
  EXPECT_TRUE(spaces.error().starts_with("malformed JSON: [json.exception.parse_error"))
      << spaces.error();
  EXPECT_TRUE(ParseJson("{} trailing").error().starts_with("malformed JSON: "));
  EXPECT_TRUE(ParseJson(R"({"a":1 /* comment */})").error().starts_with("malformed JSON: "));

  EXPECT_TRUE(ParseJson(std::string(100, '[') + std::string(100, ']')).has_value());
  EXPECT_EQ(ParseJson(std::string(101, '[') + std::string(101, ']')).error(),
            "JSON nested too deeply");
  // The limit is checked before parsing, so even an unterminated document is caught by it.
  EXPECT_EQ(ParseJson(std::string(5000, '{')).error(), "JSON nested too deeply");

  // Brackets inside strings do not count, also behind an escaped quotation mark.
  const std::string inString = R"({"k":"\"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[)" +
                               std::string(120, '[') + R"(\\"})";
  EXPECT_TRUE(ParseJson(inString).has_value()) << ParseJson(inString).error();
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

TEST(ParseEntry, IsLenientAndTakesOnlyIntegerSizesUpToTenGiB) {
  const auto size = [](const std::string& text) {
    return ParseEntry(nlohmann::json::parse(R"({"size":)" + text + "}")).size;
  };
  EXPECT_EQ(size("10737418240"), 10'737'418'240u);
  EXPECT_EQ(size("10737418241"), 0u);
  EXPECT_EQ(size("-1"), 0u);
  EXPECT_EQ(size("12.5"), 0u);
  EXPECT_EQ(size("1e3"), 0u);
  EXPECT_EQ(size("\"1024\""), 0u);
  EXPECT_EQ(size("99999999999999999999999"), 0u);

  const UpdateInfo notObject = ParseEntry(nlohmann::json("text"));
  EXPECT_TRUE(notObject.present);
  EXPECT_TRUE(notObject.version.empty());

  const UpdateInfo mistyped = ParseEntry(nlohmann::json::parse(
      R"({"version":123,"url":["https://cdn.kestrivon.net/a"],"vendorUrl":null,"sha256":"ab"})"));
  EXPECT_TRUE(mistyped.present);
  EXPECT_TRUE(mistyped.version.empty());
  EXPECT_TRUE(mistyped.url.empty());
  EXPECT_TRUE(mistyped.vendorUrl.empty());
  EXPECT_EQ(mistyped.sha256, "ab");
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
