// The updater's self-replacement with a real process: a probe updater (updater_probe.cpp) in an
// install directory applies a package to itself.

#include "win/host/self_replace.h"

#include <windows.h>

#include <process.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
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

// Runs `exe` to its end: its exit code, or -1.
int RunProbe(const fs::path& exe, const std::vector<std::wstring>& arguments) {
  const std::wstring quoted = JoinQuotedArguments(arguments);
  return static_cast<int>(_wspawnl(_P_WAIT, exe.c_str(), L"probe", quoted.c_str(), nullptr));
}

TEST(SelfReplace, NewUpdaterTakesOverOrTheRunningOneIsKept) {
  enum class Fault { None, WrongName, UpdaterPinned, NewFileUnreadable, NewFileNotStartable };
  const std::string sharing = Utf8FromWide(FormatSystemError(ERROR_SHARING_VIOLATION));
  const std::pair<Fault, std::string> cases[] = {
      {Fault::None, "] [INFO] New updater started; exiting.\n"},
      {Fault::WrongName, "[WARN] The updater package doesn't contain MyUpdater.exe\n"},
      {Fault::UpdaterPinned, "[ERROR] Failed to move the current updater aside: " + sharing},
      {Fault::NewFileUnreadable, "[ERROR] Failed to copy the new updater: " + sharing},
      {Fault::NewFileNotStartable,
       "[ERROR] The new updater didn't start; restoring the previous one\n"},
  };
  // The probe reads its install directory from the registry; this process has read its own.
  ResolveInstallDir();
  for (const auto& [fault, logLine] : cases) {
    SCOPED_TRACE(logLine);
    const testing::TempDir root;
    const fs::path dir = root.path() / L"My Games" / L"Kestrivon";
    const fs::path exe =
        dir / (fault == Fault::WrongName ? L"MyUpdater.exe" : L"KestrivonUpdater.exe");
    const fs::path backup = exe.wstring() + L".backup";
    const fs::path package = dir / L"temp\\updater package.zip";
    const testing::ScopedInstallPath installPath(dir.wstring());
    fs::create_directories(dir / L"temp");
    fs::copy_file(fs::path(testing::TestExeFolder()) / L"kestrivon_win_updater_probe.exe", exe);
    const std::string old = ReadFileBytes(exe);
    // Trailing bytes keep it a program.
    const std::string replacement =
        fault == Fault::NewFileNotStartable ? "not a program" : old + "new";
    ASSERT_TRUE(testing::ZipWriter()
                    .AddDirectory("bin/")
                    .AddFile("bin/KestrivonUpdater.exe", replacement, testing::kStored)
                    .WriteTo(package));
    UniqueFile held;
    if (fault == Fault::UpdaterPinned) held = testing::HoldOpen(exe);
    if (fault == Fault::NewFileUnreadable) {
      // Writable but not readable by others: extraction succeeds, the copy cannot read it.
      const fs::path unpacked = dir / L"temp\\updater-unpacked\\KestrivonUpdater.exe";
      fs::create_directories(unpacked.parent_path());
      held.Reset(CreateFileW(unpacked.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, 0, nullptr));
      ASSERT_TRUE(held);
    }

    // 0: the new updater started, the mutex released; 1: the file kept, the mutex held again.
    const bool replaced = fault == Fault::None;
    EXPECT_EQ(RunProbe(exe, {L"apply", package.wstring()}), replaced ? 0 : 1);
    held.Reset();
    const fs::path started = dir / L"started.txt";
    for (int i = 0; replaced && i < 200 && !fs::exists(started); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(ReadFileBytes(started), replaced ? "mutex 1\n" : "") << "mutex kept, or a start";
    EXPECT_TRUE(ReadFileBytes(exe) == (replaced ? replacement : old));
    EXPECT_TRUE(ReadFileBytes(backup) == (replaced ? old : ""));
    const std::string log = ReadFileBytes(dir / L"logs\\Kestrivon_Updater.log");
    EXPECT_NE(log.find(logLine), std::string::npos) << log;
    EXPECT_EQ(RunProbe(exe, {L"start"}), 0);
    EXPECT_FALSE(fs::exists(backup)) << "the next start leaves a backup";
  }
}

}  // namespace
}  // namespace kestrivon::win
