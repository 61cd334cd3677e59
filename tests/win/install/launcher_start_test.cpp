// Argument quoting through the real CommandLineToArgvW, and real starts of the sample launcher
// (its environment and working directory are checked by the end-to-end runs).

#include "win/install/launcher_start.h"

#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/process_log.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"
#include "win/base/process_state.h"
#include "win/base/text_encoding.h"
#include "win/base/unique_handle.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

namespace fs = std::filesystem;

TEST(LauncherStart, QuotedArgumentsSplitBackUnchanged) {
  // Spaces, tabs, other breaks, quotes and backslash runs (empty too), four to a command line.
  std::mt19937 random(20261206);
  const std::wstring alphabet = L" \t\"\\\\\\a\n\v\r";
  std::uniform_int_distribution<size_t> length(0, 12);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  for (int g = 0; g < 1000; ++g) {
    std::vector<std::wstring> group(4);
    for (std::wstring& argument : group) {
      for (size_t n = length(random); n > 0; --n) argument += alphabet[pick(random)];
    }
    const std::wstring commandLine = L"prog.exe " + JoinQuotedArguments(group);
    int count = 0;
    const UniqueLocal argv(CommandLineToArgvW(commandLine.c_str(), &count));
    ASSERT_TRUE(argv);
    const auto* const split = static_cast<wchar_t**>(argv.Get());
    ASSERT_EQ(std::vector<std::wstring>(split + 1, split + count), group)
        << Utf8FromWide(commandLine);
  }
}

// The process's install directory, log and error view: a process of its own, started by CTest
// with awkward arguments (CMakeLists.txt) that must reach the launcher unchanged.
TEST(LauncherStartOwnProcess, LauncherGetsOurArgumentsOrAnError) {
  if (!testing::RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  const testing::TempDir root;
  fs::create_directories(root.path() / L"local data");
  {
    // No install path set: the local application data folder's, here one named with a space
    // and a trailing backslash.
    const testing::ScopedInstallPath unset(L"");
    const testing::ScopedRegistryValue local(
        HKEY_CURRENT_USER,
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
        L"Local AppData", (root.path() / L"local data").wstring() + L"\\");
    ASSERT_TRUE(unset.Ok() && local.Ok());
    ResolveInstallDir();
  }
  // With one separator, and read once: the log stays there for the process.
  const fs::path installDir = root.path() / L"local data" / L"Kestrivon";
  ASSERT_EQ(ResolveInstallDir(), installDir.wstring());
  EXPECT_EQ(InstallDirProblem(), core::InstallFolderProblem::None);
  EXPECT_EQ(LogFolder(), installDir.wstring() + L"\\logs");
  const testing::ProcessLogTail log;
  const fs::path exe = installDir / kLauncherExeName;

  EXPECT_FALSE(StartLauncher(installDir.wstring()));
  EXPECT_EQ(uiState.detailLine, currentUiStrings->errorLauncherNotFound);
  errorShown = false;
  testing::WriteFileBytes(exe, "not a program");
  EXPECT_FALSE(StartLauncher(installDir.wstring()));
  EXPECT_EQ(uiState.detailLine, currentUiStrings->errorLauncherStartFailed);
  EXPECT_NE(log.Text().find("[ERROR] CreateProcessW failed: "), std::string::npos);
  errorShown = false;

  const std::vector<std::string> ours = CommandLineArgumentsUtf8();
  ASSERT_EQ(ours.back(), "C:\\my dir\\") << "CTest's awkward arguments are missing";
  fs::copy_file(fs::path(testing::TestExeFolder()) / kLauncherExeName, exe,
                fs::copy_options::overwrite_existing);
  ASSERT_TRUE(StartLauncher(installDir.wstring()));

  // The sample launcher's record of its start, one line once it is whole (at most 30 s).
  std::string line;
  for (int wait = 0; wait < 300 && !line.ends_with('\n'); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    line = testing::ReadFileBytes(installDir / "launcher-run.jsonl");
  }
  const nlohmann::json run = nlohmann::json::parse(line, nullptr, false);
  ASSERT_TRUE(run.is_object()) << line;
  EXPECT_EQ(run["arguments"], nlohmann::json(ours));
  const std::string logged = log.Text();
  EXPECT_NE(logged.find("[INFO] Starting " + run.value("commandLine", "?") + "\n"),
            std::string::npos)
      << logged;
  EXPECT_TRUE(logged.ends_with("] [INFO] Started, PID " + run["pid"].dump() + "\n")) << logged;
  EXPECT_FALSE(errorShown);
}

}  // namespace
}  // namespace kestrivon::win
