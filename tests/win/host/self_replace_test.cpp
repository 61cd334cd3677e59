// The updater's self-replacement with a real process: a probe updater (updater_probe.cpp) is
// copied into an install directory and applies a package to itself. Every failure leaves
// its file runnable under its own name; a success starts the new file, which finds the
// instance mutex free, and leaves a backup that the next start removes.

#include "win/host/self_replace.h"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/file_tree.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"
#include "tests/support/zip_writer.h"
#include "win/host/command_line_rules.h"
#include "win/host/process_state.h"
#include "win/host/text_encoding.h"
#include "win/log/log_file.h"

namespace kestrivon::win {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::TempDir;

fs::path ProbePath() {
  return fs::path(testing::TestExeFolder()) / L"kestrivon_win_updater_probe.exe";
}

// Runs `exe` to its end; its exit code, or -1.
int RunProbe(const fs::path& exe, const std::vector<std::wstring>& arguments) {
  const auto code = testing::RunAndWait(exe.wstring(), JoinQuotedArguments(arguments));
  return code ? static_cast<int>(*code) : -1;
}

std::string SystemText(uint32_t code) { return Utf8FromWide(FormatSystemError(code)); }

// An install directory with spaces holding the probe as its updater; the probe reads it from
// the registry, which this process has read for itself already.
struct Install {
  explicit Install(const wchar_t* exeName)
      : exe(dir / exeName), installPath((ResolveInstallDir(), dir.wstring())) {
    fs::create_directories(dir / L"temp");
    fs::copy_file(ProbePath(), exe);
    old = ReadFileBytes(exe);
  }
  std::string Log() const { return ReadFileBytes(dir / L"logs\\Kestrivon_Updater.log"); }

  TempDir root;
  fs::path dir = root.path() / L"My Games" / L"Kestrivon";
  fs::path package = dir / L"temp\\updater package.zip";
  fs::path exe;
  fs::path backup = exe.wstring() + L".backup";
  std::string old;
  testing::ScopedInstallPath installPath;
};

TEST(SelfReplace, FailuresKeepTheRunningUpdater) {
  struct Case {
    const char* name;
    const wchar_t* exeName;
    int hold;  // 0 nothing, 1 the updater itself, 2 the unpacked new file
    std::string logLine;
  };
  const Case cases[] = {
      {"package without the file's name", L"MyUpdater.exe", 0,
       "[WARN] The updater package doesn't contain MyUpdater.exe\n"},
      {"updater pinned", L"KestrivonUpdater.exe", 1,
       "[ERROR] Failed to move the current updater aside: " + SystemText(ERROR_SHARING_VIOLATION)},
      {"new file unreadable", L"KestrivonUpdater.exe", 2,
       "[ERROR] Failed to copy the new updater: " + SystemText(ERROR_SHARING_VIOLATION)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Install install(c.exeName);
    ASSERT_TRUE(testing::ZipWriter()
                    .AddFile("KestrivonUpdater.exe", install.old + "new", testing::kStored)
                    .WriteTo(install.package));
    UniqueFile held;
    if (c.hold == 1) held = testing::HoldOpen(install.exe);
    if (c.hold == 2) {
      // Writable but not readable by others: extraction succeeds, the copy cannot read it.
      const fs::path unpacked = install.dir / L"temp\\updater-unpacked\\KestrivonUpdater.exe";
      fs::create_directories(unpacked.parent_path());
      held.Reset(CreateFileW(unpacked.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, 0, nullptr));
    }
    ASSERT_TRUE(c.hold == 0 || held);

    EXPECT_EQ(RunProbe(install.exe, {L"apply", install.package.wstring()}), 1);
    held.Reset();
    EXPECT_TRUE(ReadFileBytes(install.exe) == install.old) << "the running updater was replaced";
    EXPECT_FALSE(fs::exists(install.backup));
    EXPECT_FALSE(fs::exists(install.dir / L"started.txt"));
    EXPECT_NE(install.Log().find(c.logLine), std::string::npos) << install.Log();
    EXPECT_EQ(RunProbe(install.exe, {L"start"}), 0) << "the kept updater does not run";
  }
}

TEST(SelfReplace, NewUpdaterTakesOverAndItsBackupGoesAtTheNextStart) {
  Install install(L"KestrivonUpdater.exe");
  const std::string replacement = install.old + "new";  // still a program: trailing bytes
  ASSERT_TRUE(testing::ZipWriter()
                  .AddDirectory("bin/")
                  .AddFile("bin/KestrivonUpdater.exe", replacement, testing::kStored)
                  .WriteTo(install.package));

  ASSERT_EQ(RunProbe(install.exe, {L"apply", install.package.wstring()}), 0) << install.Log();
  const fs::path started = install.dir / L"started.txt";
  for (int i = 0; i < 200 && !fs::exists(started); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(ReadFileBytes(started), "apply\n" + Utf8FromWide(install.package.wstring()) + "\n" +
                                        Utf8FromWide(install.dir.wstring()) + "\nmutex 1\n");
  EXPECT_TRUE(ReadFileBytes(install.exe) == replacement);
  EXPECT_TRUE(ReadFileBytes(install.backup) == install.old);
  EXPECT_NE(install.Log().find("] [INFO] New updater started; exiting.\n"), std::string::npos)
      << install.Log();

  EXPECT_EQ(RunProbe(install.exe, {L"start"}), 0);
  EXPECT_FALSE(fs::exists(install.backup));
}

}  // namespace
}  // namespace kestrivon::win
