// The program's icon, and its version information as Windows reads it from a probe program
// that carries the program's resources.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <fmt/xchar.h>

#include "win/resources/resource_ids.h"

namespace kestrivon::win {
namespace {

// Every size is stored as PNG; the system must decode each one.
TEST(ProgramResources, IconLoadsAtEverySize) {
  for (const int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
    const HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(KESTRIVON_IDI_APP),
                                   IMAGE_ICON, size, size, 0);
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info = {};
    EXPECT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info)) << size;
    BITMAP colour = {};
    GetObjectW(info.hbmColor, sizeof(colour), &colour);
    EXPECT_EQ(colour.bmWidth, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(static_cast<HICON>(icon));
  }
}

// The texts sit under the translation Windows looks up, and the version texts match the
// numbers.
TEST(ProgramResources, VersionInformationCarriesTheProgramsTexts) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring probe =
      std::filesystem::path(self).replace_filename(L"kestrivon_win_resource_probe.exe").wstring();
  DWORD ignored = 0;
  std::vector<BYTE> info(GetFileVersionInfoSizeW(probe.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(probe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT bytes = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes));
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
  const std::wstring version =
      fmt::format(L"{}.{}.{}.{}", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                  HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  const struct {
    const wchar_t* key;
    std::wstring expected;
  } texts[] = {{L"FileVersion", version},
               {L"ProductVersion", version},
               {L"ProductName", L"Kestrivon Updater"},
               {L"OriginalFilename", L"KestrivonUpdater.exe"}};
  for (const auto& text : texts) {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + text.key;
    wchar_t* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
        << text.key;
    EXPECT_EQ(std::wstring(value), text.expected) << text.key;
  }
}

}  // namespace
}  // namespace kestrivon::win
