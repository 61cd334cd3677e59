// The log file on a real (Wine) file system: record shapes, rotation at the start of a
// process, records that cannot be written; the engine sink's lines, system error texts, and
// the process-wide log under the install directory.

#include "win/log/log_file.h"

#include <windows.h>

#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "core/log.h"
#include "tests/support/file_tree.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"
#include "win/host/process_state.h"

namespace kestrivon::win {
namespace {

using kestrivon::testing::TempDir;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

constexpr uint64_t kMiB = 1048576;
// The local time stamp that starts every record.
const std::string kStamp = R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )";

bool Matches(const std::string& bytes, const std::string& pattern) {
  return std::regex_match(bytes, std::regex(pattern));
}

TEST(LogFile, RecordShapesPathsAndSystemErrorTexts) {
  TempDir folder;
  LogFile log((folder.path() / L"a\\logs").wstring());  // missing folders are made

  log.Write(L"[INFO] Starting");
  log.Write(L"");
  log.Write(L"[WARN] first\nsecond");
  log.Write(L"[ERROR] Путь: C:\\Игры\\Kestrivon");

  // UTF-8 without a byte-order mark, line feeds only.
  const std::string bytes = ReadFileBytes(log.FilePath());
  EXPECT_TRUE(Matches(bytes, kStamp + R"(\[INFO\] Starting\n\n)" + kStamp +
                                 R"(\[WARN\] first\nsecond\n)" + kStamp +
                                 "\\[ERROR\\] Путь: C:\\\\Игры\\\\Kestrivon\n"))
      << bytes;

  // An install directory at a drive root must not give "D:\\logs".
  EXPECT_EQ(LogFile(L"D:\\").FilePath(), L"D:\\Kestrivon_Updater.log");

  // System error texts come without their line break.
  const std::wstring notFound = FormatSystemError(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(notFound.empty() || notFound.ends_with(L"\n") || notFound.ends_with(L"\r"));
  EXPECT_EQ(FormatSystemError(0xE0000123u), L"");
}

TEST(LogFile, RotatesOncePerRunOnlyPastOneMebibyte) {
  TempDir folder;
  const std::wstring file = (folder.path() / L"Kestrivon_Updater.log").wstring();
  const std::wstring previous = file + L".1";
  ASSERT_TRUE(WriteFileBytes(file, std::string(kMiB, 'x')));
  ASSERT_TRUE(WriteFileBytes(previous, "older generation"));
  {
    // Exactly 1 MiB stays; grown past it during the run, the file is still not rotated.
    LogFile run(folder.path().wstring());
    run.Write(L"[INFO] appended");
    run.Write(L"[INFO] appended again");
    EXPECT_TRUE(ReadFileBytes(previous) == "older generation");
    EXPECT_GT(std::filesystem::file_size(file), kMiB);
  }
  ASSERT_TRUE(WriteFileBytes(file, std::string(kMiB + 1, 'x')));
  LogFile nextRun(folder.path().wstring());
  nextRun.Write(L"[INFO] fresh");
  EXPECT_EQ(std::filesystem::file_size(previous), kMiB + 1);
  EXPECT_TRUE(Matches(ReadFileBytes(file), kStamp + R"(\[INFO\] fresh\n)")) << "not rotated";
}

TEST(LogFile, LockedFilesDropRecordsQuietly) {
  TempDir folder;
  LogFile log(folder.path().wstring());
  ASSERT_TRUE(WriteFileBytes(log.FilePath(), std::string(kMiB + 1, 'x')));
  ASSERT_TRUE(WriteFileBytes(log.PreviousPath(), "locked"));
  // Held without sharing, as another program might.
  UniqueFile previous = testing::HoldOpen(log.PreviousPath(), 0);
  ASSERT_TRUE(previous);

  log.Write(L"[INFO] one");  // the rotation fails; the record still goes to the current file
  UniqueFile current = testing::HoldOpen(log.FilePath(), 0);
  ASSERT_TRUE(current);
  log.Write(L"[INFO] dropped");
  current.Reset();
  previous.Reset();
  log.Write(L"[INFO] two");  // a failed rotation is not retried in the same run

  EXPECT_TRUE(ReadFileBytes(log.PreviousPath()) == "locked") << "rotation tried again";
  const std::string added = ReadFileBytes(log.FilePath()).substr(kMiB + 1);
  EXPECT_TRUE(Matches(added, kStamp + R"(\[INFO\] one\n)" + kStamp + R"(\[INFO\] two\n)")) << added;
}

// The install directory, and with it the log's place, is fixed per process.
TEST(ProcessLogOwnProcess, WritesUnderTheInstallDirectory) {
  if (!testing::RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  TempDir installDir;
  testing::ScopedInstallPath value(installDir.path().wstring());
  ASSERT_TRUE(value.Ok());

  WriteLogLine(L"[INFO] host line");
  InstallCoreLogSink();
  core::Log(core::LogLevel::Info, "engine line");
  core::Log(core::LogLevel::Warning, "careful");
  core::Log(core::LogLevel::Error, "ой");
  core::Log(static_cast<core::LogLevel>(7), "never written");
  core::SetLogSink(nullptr);

  // The unknown level is not written.
  const std::string bytes = ReadFileBytes(installDir.path() / L"logs\\Kestrivon_Updater.log");
  EXPECT_TRUE(Matches(bytes, kStamp + R"(\[INFO\] host line\n)" + kStamp +
                                 R"(\[INFO\] engine line\n)" + kStamp + R"(\[WARN\] careful\n)" +
                                 kStamp + "\\[ERROR\\] ой\n"))
      << bytes;
}

}  // namespace
}  // namespace kestrivon::win
