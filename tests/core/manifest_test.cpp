#include "core/manifest.h"

#include <string>

#include <gtest/gtest.h>

#include "core/content_hosts.h"
#include "core/verified_download.h"

namespace kestrivon::core {
namespace {

const std::string kCdnUrl = "https://" + std::string(cdnHost) + "/l.zip";

std::string Launcher(const std::string& size = "1024", const std::string& more = "") {
  return R"("launcher":{"version":"1.2.3","url":")" + kCdnUrl + R"(","sha256":")" +
         std::string(64, 'a') + R"(","size":)" + size + more + "}";
}

std::string Win(const std::string& members) {
  return R"({"other":{"launcher":1},"win":{)" + members + "}}";
}

std::string ParseError(std::string_view text) {
  const auto result = ParseManifest(text, PlatformKey());
  return result ? "accepted" : result.error();
}

TEST(ParseManifest, RefusesWhatTheRunCannotUse) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "empty document"},
      {"   ", "malformed JSON: [json.exception.parse_error"},
      {"{} trailing", "malformed JSON: "},
      {R"({"a":1 /* comment */})", "malformed JSON: "},
      {std::string(100, '[') + std::string(100, ']'), "manifest is not a JSON object"},
      {std::string(101, '[') + std::string(101, ']'), "JSON nested too deeply"},
      // The depth is checked before parsing, so even an unterminated document is caught.
      {std::string(5000, '{'), "JSON nested too deeply"},
      // Brackets inside strings do not count, also behind an escaped quotation mark.
      {R"({"k":"\")" + std::string(150, '[') + R"(\\"})", R"(manifest has no "win" object)"},
      {R"({"win":"launcher"})", R"(manifest has no "win" object)"},
      {"{\"Win\":{" + Launcher() + "}}", R"(manifest has no "win" object)"},
      {Win(R"("jre":{})"), "launcher entry is missing or invalid"},
      {Win(R"("launcher":{"version":123,"url":")" + kCdnUrl + R"("})"),
       "launcher entry is missing or invalid"},
      {Win(Launcher() + R"(,"jre":null)"), "jre entry is invalid"},
      {Win(Launcher() + R"(,"updater":{})"), "updater entry is invalid"},
      // Without "jre" and "updater" the document is accepted; the run finds no usable entry.
      {Win(Launcher()), "accepted"},
      // A mistyped optional member reads as empty.
      {Win(Launcher("1", R"(,"vendorUrl":null)")), "accepted"},
  };
  for (const auto& [text, error] : cases) {
    EXPECT_TRUE(ParseError(text).starts_with(error)) << text.substr(0, 40) << ParseError(text);
  }
  // Only integer sizes up to the extractor's archive limit (2 GiB) count.
  for (const char* size : {"2147483648", "2147483649", "10737418240", "-1", "12.5", "1e3",
                           "\"1024\"", "99999999999999999999999"}) {
    EXPECT_EQ(ParseError(Win(Launcher(size))) == "accepted", std::string_view(size) == "2147483648")
        << size;
  }
}

std::string Delta(const std::string& members) {
  const std::string digest(64, 'b');
  return R"({"fromSha256":")" + digest + R"(","url":")" + kCdnUrl + R"(.delta","sha256":")" +
         digest + R"(","size":10,"format":"zstd-files-1")" + members + "}";
}

std::string Deltas(const std::string& elements) { return R"(,"deltas":[)" + elements + "]"; }

// Deltas are read leniently: a bad element is dropped, the entry and the other deltas stay.
TEST(ParseManifest, KeepsOnlyUsableDeltas) {
  const std::string vendor = "https://" + std::string(allowedVendorHosts[0]) + "/d";
  const std::string http = "http://" + std::string(cdnHost) + "/d";
  const std::pair<std::string, size_t> cases[] = {
      {"", 0},
      {R"(,"deltas":{})", 0},
      {Deltas(R"(1,null,"x")"), 0},
      {Deltas(Delta("")), 1},
      {Deltas(Delta("") + "," + Delta("")), 2},
      // Later members win in JSON objects: each of these spoils one field.
      {Deltas(Delta(R"(,"fromSha256":"abc")") + "," + Delta("")), 1},
      {Deltas(Delta(R"(,"sha256":")" + std::string(64, 'g') + R"(")")), 0},
      {Deltas(Delta(R"(,"url":")" + vendor + R"(")")), 0},
      {Deltas(Delta(R"(,"url":")" + http + R"(")")), 0},
      {Deltas(Delta(R"(,"size":0)")), 0},
      {Deltas(Delta(R"(,"size":2147483649)")), 0},
      {Deltas(Delta(R"(,"size":"10")")), 0},
      {Deltas(Delta(R"(,"format":"")")), 0},
      {Deltas(Delta(R"(,"format":"a b")")), 0},
      {Deltas(Delta(R"(,"format":")" + std::string(33, 'f') + R"(")")), 0},
      // Kept: a format this program does not know is skipped later, not refused.
      {Deltas(Delta(R"(,"format":"other-2")")), 1},
  };
  for (const auto& [members, count] : cases) {
    const auto manifest = ParseManifest(Win(Launcher("1024", members)), PlatformKey());
    ASSERT_TRUE(manifest) << members;
    EXPECT_EQ(manifest->launcher.deltas.size(), count) << members;
  }
  std::string many = Delta("");
  for (int i = 0; i < 11; ++i) many.append(",").append(Delta(""));
  const auto manifest = ParseManifest(Win(Launcher("1024", Deltas(many))), PlatformKey());
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->launcher.deltas.size(), maxDeltasPerEntry);
}

TEST(FindDelta, MatchesTheInstalledDigestAndFormat) {
  UpdateInfo entry;
  entry.deltas = {{.fromSha256 = std::string(64, 'a'), .url = "one", .format = "zstd-files-1"},
                  {.fromSha256 = std::string(64, 'b'), .url = "two", .format = "other"},
                  {.fromSha256 = std::string(64, 'B'), .url = "three", .format = "zstd-files-1"}};
  const std::pair<std::string, std::string> cases[] = {{std::string(64, 'A'), "one"},
                                                       {std::string(64, 'b'), "three"},
                                                       {"", "none"},
                                                       {std::string(64, 'c'), "none"}};
  for (const auto& [installed, url] : cases) {
    const DeltaInfo* found = FindDelta(entry, installed, "zstd-files-1");
    EXPECT_EQ(found ? found->url : "none", url) << installed;
  }
  // A usable delta downloads as a usable entry of its own.
  const auto manifest = ParseManifest(Win(Launcher("1024", Deltas(Delta("")))), PlatformKey());
  ASSERT_TRUE(manifest && manifest->launcher.deltas.size() == 1);
  EXPECT_TRUE(IsValidEntry(DeltaDownload(manifest->launcher, manifest->launcher.deltas[0])));
}

}  // namespace
}  // namespace kestrivon::core
