// The program's icon, and its version information as Windows reads it from a probe program
// that carries the program's resources.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "win/resources/resource_ids.h"

namespace kestrivon::win {
namespace {

std::filesystem::path ProbePath() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(self).replace_filename(L"kestrivon_win_resource_probe.exe");
}

// Every size is stored as PNG; the system must decode each one.
TEST(ProgramResources, IconLoadsAtEverySize) {
  for (const int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
    const HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(KESTRIVON_IDI_APP),
                                   IMAGE_ICON, size, size, 0);
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info = {};
    EXPECT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info)) << size;
    BITMAP colour = {};
    EXPECT_EQ(GetObjectW(info.hbmColor, sizeof(colour), &colour), static_cast<int>(sizeof(colour)));
    EXPECT_EQ(colour.bmWidth, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(static_cast<HICON>(icon));
  }
}

TEST(ProgramResources, VersionInformationCarriesTheProgramsTexts) {
  const std::wstring probe = ProbePath().wstring();
  DWORD ignored = 0;
  std::vector<BYTE> info(GetFileVersionInfoSizeW(probe.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(probe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT bytes = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes));
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
  const std::wstring version = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                               std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                               std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                               std::to_wstring(LOWORD(fixed->dwFileVersionLS));

  const struct {
    const wchar_t* key;
    std::wstring expected;
  } texts[] = {
      {L"FileVersion", version},
      {L"ProductVersion", version},
      {L"FileDescription", L"Kestrivon Updater"},
      {L"ProductName", L"Kestrivon Updater"},
      {L"InternalName", L"KestrivonUpdater.exe"},
      {L"OriginalFilename", L"KestrivonUpdater.exe"},
      {L"Comments", L"Official updater for Kestrivon Launcher."},
      {L"LegalTrademarks", L"Kestrivon"},
      {L"CompanyName", L"Kestrivon"},
  };
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
