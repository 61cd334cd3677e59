// Code pages against the real conversions and the prefix's machine registry.

#include "win/host/code_page.h"

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "tests/support/wine_test_support.h"

namespace kestrivon::win {
namespace {

// A path outside the system code page is refused in the end-to-end runs; these are the
// exactness rules behind it.
TEST(CodePage, IsRepresentableInCodePage) {
  const struct {
    std::wstring path;
    uint32_t codePage;
    bool representable;
  } cases[] = {
      {L"C:\\Spiele\\Größe", 1252, true}, {L"C:\\Игры", 1252, false}, {L"C:\\Игры", 1251, true},
      {L"C:\\\u0100", 1252, false},  // Ā would only best-fit to A
      {L"C:\\游戏", kCodePageUtf8, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsRepresentableInCodePage(c.path, c.codePage), c.representable) << c.codePage;
  }
}

TEST(CodePage, Utf8ToCodePage) {
  const std::string russian = "C:\\\xd0\x98\xd0\xb3\xd1\x80\xd1\x8b";  // C:\Игры
  const struct {
    std::string text;
    uint32_t codePage;
    std::optional<std::string> converted;
  } cases[] = {
      {russian, 1252, std::nullopt},
      {russian, 1251, "C:\\\xc8\xe3\xf0\xfb"},
      // With a UTF-8 process code page the text passes unchanged once it is valid.
      {russian, kCodePageUtf8, russian},
      {"C:\\\xff", kCodePageUtf8, std::nullopt},
      {"", kCodePageUtf8, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToCodePage(c.text, c.codePage), c.converted) << c.text << " " << c.codePage;
  }
}

TEST(CodePage, SystemAnsiCodePageComesFromTheMachineRegistry) {
  // 0: unusable, the system locale's code page instead.
  const std::pair<std::wstring, uint32_t> cases[] = {
      {L"874 Thai", 874}, {L"0", 0}, {L"cp1250", 0}, {L"99999999999", 0}};
  for (const auto& [stored, expected] : cases) {
    testing::ScopedRegistryValue value(
        HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", L"ACP", stored);
    ASSERT_TRUE(value.Ok());
    EXPECT_EQ(SystemAnsiCodePage(), expected != 0 ? expected : GetACP()) << stored;
  }
}

}  // namespace
}  // namespace kestrivon::win
