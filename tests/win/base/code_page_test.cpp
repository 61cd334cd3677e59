// Text conversions and code pages against the real conversions and the prefix's registry, and
// the app link's endpoint path (the exchange itself is tested natively: Wine has no AF_UNIX).

#include "win/base/code_page.h"

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "handoff/app_link.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"
#include "win/base/text_encoding.h"

namespace kestrivon::win {
namespace {

TEST(CodePage, ConversionsAreExactOrNoneAndTheAnsiCodePageIsRead) {
  // Two-byte Cyrillic, a three-byte sign and a four-byte character (a surrogate pair).
  const std::string utf8 = "\xD0\x9F\xD1\x83\xD1\x82\xD1\x8C \xE2\x82\xAC \xF0\x9F\x8E\xAE";
  const std::wstring wide = L"Путь \u20AC \U0001F3AE";
  EXPECT_EQ(WideFromUtf8(utf8), wide);
  EXPECT_EQ(Utf8FromWide(wide), utf8);
  EXPECT_EQ(WideFromUtf8(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
  EXPECT_EQ(Utf8FromWide(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));

  // The rules behind refusing paths outside the system code page, for UTF-16 and UTF-8 alike.
  const std::string russian = "C:\\\xd0\x98\xd0\xb3\xd1\x80\xd1\x8b";  // C:\Игры
  const struct {
    std::string text;
    uint32_t codePage;
    std::optional<std::string> converted;
  } cases[] = {
      {"C:\\Gr\xc3\xb6\xc3\x9f", 1252, "C:\\Gr\xf6\xdf"},
      {russian, 1252, std::nullopt},
      {russian, 1251, "C:\\\xc8\xe3\xf0\xfb"},
      {"C:\\\xc4\x80", 1252, std::nullopt},  // Ā would only best-fit to A
      // With a UTF-8 process code page the text passes unchanged.
      {russian, kCodePageUtf8, russian},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToCodePage(c.text, c.codePage), c.converted) << c.text << " " << c.codePage;
    EXPECT_EQ(IsRepresentableInCodePage(WideFromUtf8(c.text), c.codePage), c.converted.has_value())
        << c.text << " " << c.codePage;
  }
  EXPECT_EQ(Utf8ToCodePage("C:\\\xff", kCodePageUtf8), std::nullopt) << "not UTF-8";
  EXPECT_EQ(Utf8ToCodePage("", 1252), std::nullopt);

  // The system's ANSI code page from the machine registry; 0: unusable, the locale's instead.
  const std::pair<std::wstring, uint32_t> acpValues[] = {
      {L"874 Thai", 874}, {L"cp1250", 0}, {L"99999999999", 0}};
  for (const auto& [stored, expected] : acpValues) {
    testing::ScopedRegistryValue value(
        HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", L"ACP", stored);
    ASSERT_TRUE(value.Ok());
    EXPECT_EQ(SystemAnsiCodePage(), expected != 0 ? expected : GetACP()) << stored;
  }
}

TEST(AppLinkWindows, EndpointOutsideTheAnsiCodePageIsUnusable) {
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "every path fits a UTF-8 process code page";
  testing::TempDir dir;
  const std::string endpoint = "C:\\\xe6\xb8\xb8\xe6\x88\x8f.sock";  // C:\游戏.sock
  ASSERT_TRUE(testing::WriteFileBytes(dir.path() / kAppLinkEndpointFile, endpoint + "\r\n"));
  const testing::LogCapture log;
  EXPECT_FALSE(HandOffAppLink(dir.path(), kDefaultAppLink));
  EXPECT_EQ(log.Texts(),
            std::vector<std::string>{"[WARN] App link endpoint path is unusable: " + endpoint});
}

}  // namespace
}  // namespace kestrivon::win
