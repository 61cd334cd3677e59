#include "core/escaped_text.h"

#include <string>

#include <gtest/gtest.h>

#include "core/content_hosts.h"
#include "core/verified_download.h"

namespace kestrivon::core {
namespace {

TEST(EscapedText, OnlyLineBreakersReversersAndBrokenBytesAreEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"2.0.0 caf\xC3\xA9 \xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0 C:\\x \"q\" %s {}",
       "2.0.0 caf\xC3\xA9 \xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0 C:\\x \"q\" %s {}"},
      // A forged second log line, a terminal escape, a tab, DEL.
      {"1.0.0\n[INFO] fake", "1.0.0\\x0A[INFO] fake"},
      {"a\r\x1B[2J\tb\x7F", "a\\x0D\\x1B[2J\\x09b\\x7F"},
      {std::string("a\0b", 3), "a\\x00b"},
      // C1 controls are characters, not broken bytes: told apart from a lone 0x85.
      {"a\xC2\x85z\x85", "a\\u0085z\\x85"},
      // Bidirectional overrides, embeddings, isolates and marks.
      {"exe.\xE2\x80\xAEgpj", "exe.\\u202Egpj"},
      {"\xE2\x80\xAA\xE2\x81\xA6\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C",
       "\\u202A\\u2066\\u2069\\u200F\\u061C"},
      // The neighbours of the bidirectional characters stay.
      {"\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xAA", "\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xAA"},
      {"caf\xE9 \xC0\xAF \xED\xA0\x80", "caf\\xE9 \\xC0\\xAF \\xED\\xA0\\x80"}};
  for (const auto& [text, escaped] : cases) {
    EXPECT_EQ(EscapeText(text), escaped) << escaped;
    EXPECT_EQ(HasControlOrBidiCharacter(text), escaped.find("\\x0") != std::string::npos ||
                                                   escaped.find("\\x1") != std::string::npos ||
                                                   escaped.find("\\x7F") != std::string::npos ||
                                                   escaped.find("\\u") != std::string::npos)
        << escaped;
  }
}

// A version that could forge the log or turn the prompt's row around makes its entry invalid.
TEST(EscapedText, VersionWithControlOrBidiCharacterMakesEntryInvalid) {
  UpdateInfo entry{true,
                   "2.0.0",
                   "https://" + std::string(cdnHost) + "/launcher/l.zip",
                   "",
                   std::string(64, 'a'),
                   1};
  ASSERT_TRUE(IsValidEntry(entry));
  for (const std::string version :
       {"2.0.0\n", "2.0.0\r[ERROR] x", "2.0.0\x1B[8m", "2.0.0\x7F", "2.0.0\xC2\x9B",
        "2.0.0 \xE2\x80\xAE"
        "0.0.1",
        "2.0.0\xE2\x81\xA7"}) {
    entry.version = version;
    EXPECT_FALSE(IsValidEntry(entry)) << EscapeText(version);
  }
  entry.version = "2.0.0-\xD0\xB1\xD0\xB5\xD1\x82\xD0\xB0";  // other text stays valid
  EXPECT_TRUE(IsValidEntry(entry));
}

}  // namespace
}  // namespace kestrivon::core
