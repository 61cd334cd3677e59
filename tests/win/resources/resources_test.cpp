// The program's resources as Windows and GDI+ read them (the icon and fonts are linked into this
// executable as into the program), and the system families that stand in for missing fonts.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include <fmt/xchar.h>

#include "tests/support/process_runner.h"
#include "win/resources/resource_ids.h"
#include "win/ui/fonts.h"

namespace kestrivon::win {
namespace {

// The icon is stored as PNG at every size, which the system must decode. The version texts sit
// under the translation Windows looks up and match the numbers.
TEST(ProgramResources, IconAndVersionInformation) {
  for (const int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
    const HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(KESTRIVON_IDI_APP),
                                   IMAGE_ICON, size, size, 0);
    EXPECT_NE(icon, nullptr) << size;
    DestroyIcon(static_cast<HICON>(icon));
  }
  const std::wstring probe = testing::TestExeFolder() + L"\\kestrivon_win_resource_probe.exe";
  std::vector<BYTE> info(GetFileVersionInfoSizeW(probe.c_str(), nullptr));
  ASSERT_TRUE(GetFileVersionInfoW(probe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT bytes = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes));
  const std::wstring version =
      fmt::format(L"{}.{}.{}.{}", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                  HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  const auto text = [&](const wchar_t* key) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    wchar_t* value = nullptr;
    VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &bytes);
    return std::wstring(value != nullptr ? value : L"(none)");
  };
  EXPECT_EQ(text(L"FileVersion"), version);
  EXPECT_EQ(text(L"ProductName"), L"Kestrivon Updater");
}

// The embedded fonts name every role's family; without them the system gives every role one
// (under Wine only through the prefix's font replacements), the heading in bold.
TEST(FontResources, EveryRoleHasAFamily) {
  const FontSet& embedded = GetFontSet();
  const FontSet fallback = BuildFontSet(nullptr);
  for (const FontSet* fonts : {&embedded, &fallback}) {
    const struct {
      const UniqueFontFamily& family;
      INT style;
      const wchar_t* name;
    } roles[] = {{fonts->headingFamily, fonts->headingStyle, L"Unbounded"},
                 {fonts->bodyFamily, fonts->bodyStyle, L"Onest"},
                 {fonts->buttonFamily, fonts->buttonStyle, L"Onest SemiBold"}};
    for (const auto& role : roles) {
      WCHAR name[LF_FACESIZE] = {};
      Gdiplus::DllExports::GdipGetFamilyName(role.family.Get(), name, LANG_NEUTRAL);
      EXPECT_TRUE(fonts != &embedded || std::wstring_view(name) == role.name) << name;
      EXPECT_TRUE(MakeFont(role.family, role.style, 12)) << role.name;
    }
  }
  EXPECT_EQ(fallback.headingStyle, Gdiplus::FontStyleBold);
  EXPECT_FALSE(MakeFont(UniqueFontFamily(), Gdiplus::FontStyleRegular, 10));
}

}  // namespace
}  // namespace kestrivon::win
