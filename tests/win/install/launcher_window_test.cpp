// The running launcher recognised by the program behind its window, with real processes: a
// window of another program with the launcher's title does not count.

#include "win/install/launcher_window.h"

#include <windows.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/process_log.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_dir.h"
#include "win/base/unique_handle.h"

namespace kestrivon::win {
namespace {

namespace fs = std::filesystem;

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(LauncherWindow, OnlyTheInstallFoldersOwnLauncherCounts) {
  const testing::TempDir root;
  const fs::path dir = root.path() / L"Kestrivon";
  const fs::path other = root.path() / L"Other";
  for (const fs::path& folder : {dir, other}) {
    fs::create_directories(folder);
    fs::copy_file(fs::path(testing::TestExeFolder()) / L"KestrivonLauncher.exe",
                  folder / L"KestrivonLauncher.exe");
  }
  EXPECT_TRUE(
      IsSameFile(dir / L"KestrivonLauncher.exe", dir.wstring() + L"\\KESTRIVONLAUNCHER.EXE"));
  EXPECT_FALSE(IsSameFile(dir / L"KestrivonLauncher.exe", other / L"KestrivonLauncher.exe"));

  // This test program's window with the launcher's title: ignored, and logged once.
  const testing::ProcessLogTail log;
  const UniqueWindow stranger(CreateWindowExW(0, L"STATIC", L"Kestrivon Launcher", WS_POPUP, 0, 0,
                                              10, 10, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(stranger);
  EXPECT_FALSE(IsLauncherRunning(dir.wstring()));
  EXPECT_FALSE(IsLauncherRunning(dir.wstring()));
  EXPECT_EQ(Count(log.Text(),
                  "[WARN] Ignoring a window titled \"Kestrivon Launcher\" of another "
                  "program: "),
            1u)
      << log.Text();

  // The install folder's launcher with its window up: the launcher of that folder only.
  SetEnvironmentVariableW(L"KESTRIVON_SAMPLE_WINDOW_MS", L"30000");
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created{};
  std::wstring commandLine = L"KestrivonLauncher.exe";
  ASSERT_TRUE(CreateProcessW((dir / L"KestrivonLauncher.exe").c_str(), commandLine.data(), nullptr,
                             nullptr, FALSE, 0, nullptr, dir.c_str(), &startup, &created));
  SetEnvironmentVariableW(L"KESTRIVON_SAMPLE_WINDOW_MS", nullptr);
  const UniqueHandle process(created.hProcess);
  const UniqueHandle thread(created.hThread);
  for (int i = 0; i < 300 && FindWindowW(L"Kestrivon_Sample_Launcher", nullptr) == nullptr; ++i) {
    Sleep(50);
  }
  EXPECT_TRUE(IsLauncherRunning(dir.wstring()));
  EXPECT_FALSE(IsLauncherRunning(other.wstring()));
  TerminateProcess(process.Get(), 0);
  WaitForSingleObject(process.Get(), 10000);
}

}  // namespace
}  // namespace kestrivon::win
