// The updater's self-replacement failing with a real process: a probe updater (updater_probe.cpp)
// in an install directory applies a package to itself. A successful one, and the backup's
// removal at the next start, run in the end-to-end runs.

#include "win/install/self_replace.h"

#include <windows.h>

#include <process.h>

#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "handoff/command_line_rules.h"
#include "tests/support/file_tree.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"
#include "tests/support/zip_writer.h"
#include "win/base/process_state.h"
#include "win/base/text_encoding.h"
#include "win/log/log_file.h"

namespace kestrivon::win {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;

TEST(SelfReplace, FailedReplacementKeepsTheRunningUpdaterAndItsMutex) {
  enum class Fault {
    WrongName,
    UpdaterPinned,
    NewFileUnreadable,
    NewCopyPinned,
    NewFileNotStartable
  };
  const std::string sharing = Utf8FromWide(FormatSystemError(ERROR_SHARING_VIOLATION));
  const std::pair<Fault, std::string> cases[] = {
      {Fault::WrongName, "[WARN] The updater package doesn't contain MyUpdater.exe\n"},
      {Fault::UpdaterPinned, "[ERROR] Failed to move the current updater aside: " + sharing},
      {Fault::NewFileUnreadable, "[ERROR] Failed to copy the new updater: " + sharing},
      {Fault::NewCopyPinned, "[ERROR] Failed to move the new updater into place: " + sharing},
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
    if (fault == Fault::NewCopyPinned) {
      // Open for reading by someone who does not share deletion (a scanner, say): the copy
      // and its flush go through, its rename into place does not.
      ASSERT_TRUE(testing::WriteFileBytes(exe.wstring() + L".new", ""));
      held = testing::HoldOpen(exe.wstring() + L".new");
      ASSERT_TRUE(held);
    }

    const std::wstring arguments = JoinQuotedArguments({L"apply", package.wstring()});
    EXPECT_EQ(_wspawnl(_P_WAIT, exe.c_str(), L"probe", arguments.c_str(), nullptr), 1)
        << "replaced, or the mutex lost";
    held.Reset();
    EXPECT_TRUE(ReadFileBytes(exe) == old);
    EXPECT_FALSE(fs::exists(exe.wstring() + L".backup"));
    // Written beside, never left there (a pinned one goes at the next start).
    if (fault != Fault::NewCopyPinned) {
      EXPECT_FALSE(fs::exists(exe.wstring() + L".new"));
    }
    const std::string log = ReadFileBytes(dir / L"logs\\Kestrivon_Updater.log");
    EXPECT_NE(log.find(logLine), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace kestrivon::win
