// The log file on a real (Wine) file system, system error texts, and the engine sink's lines in
// the process-wide log.

#include "win/log/log_file.h"

#include <windows.h>

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "core/log.h"
#include "tests/support/file_tree.h"
#include "tests/support/process_log.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"

namespace kestrivon::win {
namespace {

using kestrivon::testing::TempDir;
using testing::ReadFileBytes;

constexpr uint64_t kMiB = 1048576;
// `text` with the local time stamp that starts every record replaced by "[T]".
std::string Stamped(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\])"), "[T]");
}

// One folder through four runs of the program, then paths and system error texts.
// One sequence of runs over one log: rotation at most once per run, past 1 MiB only, and a
// record dropped while the file is locked.
TEST(LogFile, RotatesOncePerRunPastItsLimit) {
  TempDir folder;
  const std::wstring logs = (folder.path() / L"a\\logs").wstring();
  LogFile(logs).Write(L"[INFO] Starting");  // missing folders are made
  const LogFile paths(logs);
  ASSERT_TRUE(testing::WriteFileBytes(paths.FilePath(), std::string(kMiB, 'x')));
  ASSERT_TRUE(testing::WriteFileBytes(paths.PreviousPath(), "older generation"));
  {
    // Exactly 1 MiB stays; grown past it during the run, the file is still not rotated.
    LogFile run(logs);
    run.Write(L"[INFO] one");
    run.Write(L"[INFO] two");
  }
  {
    // The previous generation held without sharing, as another program might: the rotation
    // fails, the record still goes to the current file, and the rotation is not tried again.
    UniqueFile previous = testing::HoldOpen(paths.PreviousPath(), 0);
    LogFile run(logs);
    run.Write(L"[INFO] three");
    UniqueFile current = testing::HoldOpen(paths.FilePath(), 0);
    run.Write(L"[INFO] dropped");
    current.Reset();
    previous.Reset();
    run.Write(L"[INFO] four");
  }
  EXPECT_TRUE(ReadFileBytes(paths.PreviousPath()) == "older generation");
  const std::string rotated = ReadFileBytes(paths.FilePath());
  EXPECT_EQ(Stamped(rotated.substr(kMiB)),
            "[T] [INFO] one\n[T] [INFO] two\n[T] [INFO] three\n[T] [INFO] four\n");

  LogFile run(logs);
  run.Write(L"[INFO] Starting");
  run.Write(L"");
  run.Write(L"[WARN] first\nsecond");
  run.Write(L"[ERROR] Путь: C:\\Игры\\Kestrivon");
  EXPECT_TRUE(ReadFileBytes(paths.PreviousPath()) == rotated) << "not rotated";
  // UTF-8 without a byte-order mark, line feeds only.
  EXPECT_EQ(
      Stamped(ReadFileBytes(paths.FilePath())),
      "[T] [INFO] Starting\n\n[T] [WARN] first\nsecond\n[T] [ERROR] Путь: C:\\Игры\\Kestrivon\n");
}

TEST(LogFile, PathsAndSystemErrorTexts) {
  // An install directory at a drive root must not give "D:\\logs".
  EXPECT_EQ(LogFile(L"D:\\").FilePath(), L"D:\\Kestrivon_Updater.log");
  // System error texts come without their line break.
  const std::wstring notFound = FormatSystemError(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(notFound.empty() || notFound.ends_with(L"\n") || notFound.ends_with(L"\r"));
  EXPECT_EQ(FormatSystemError(0xE0000123u), L"");
}

// The engine's lines in the process-wide log, which lives under the install directory.
TEST(ProcessLog, TakesTheEngineLinesByLevel) {
  const testing::ProcessLogTail log;
  InstallCoreLogSink();
  core::Log(core::LogLevel::Info, "engine line");
  core::Log(core::LogLevel::Warning, "careful");
  core::Log(core::LogLevel::Error, "ой");
  core::Log(static_cast<core::LogLevel>(7), "never written");
  core::SetLogSink(nullptr);
  EXPECT_EQ(Stamped(log.Text()), "[T] [INFO] engine line\n[T] [WARN] careful\n[T] [ERROR] ой\n");
}

}  // namespace
}  // namespace kestrivon::win
