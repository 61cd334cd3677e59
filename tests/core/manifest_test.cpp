#include "core/manifest.h"

#include <string>

#include <gtest/gtest.h>

#include "core/content_hosts.h"

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

}  // namespace
}  // namespace kestrivon::core
