// The log file on a real (Wine) file system: record shapes, rotation at the start of a
// process, records that cannot be written; the engine sink's lines and system error texts.

#include "win/log/log_file.h"

#include <windows.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/win/wine_test_support.h"

namespace kestrivon::win {
namespace {

using testing::FileExists;
using testing::FileSize;
using testing::ReadFileBytes;
using testing::TempFolder;
using testing::WriteFileBytes;

constexpr uint64_t kMiB = 1048576;
const std::string kStamp = R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )";

// Holds a file open without sharing, as another program might.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~ExclusiveLock() { Release(); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

  bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (Held()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string LocalDate() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char text[16];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
  return text;
}

TEST(LogFile, RecordShapes) {
  TempFolder folder(L"log-shapes");
  LogFile log(folder.Join(L"logs"));
  EXPECT_EQ(log.FilePath(), folder.Join(L"logs\\Kestrivon_Updater.log"));

  const std::string before = LocalDate();
  log.Write(L"[INFO] Starting");
  log.Write(L"");
  log.Write(L"[WARN] first\nsecond");
  log.Write(L"[ERROR] Путь: C:\\Игры\\Kestrivon");
  const std::string after = LocalDate();

  const std::string bytes = ReadFileBytes(log.FilePath());
  EXPECT_TRUE(std::regex_match(
      bytes, std::regex(kStamp + R"(\[INFO\] Starting\n)" + "\n" + kStamp +
                        R"(\[WARN\] first\nsecond\n)" + kStamp + R"(\[ERROR\] .*\n)")))
      << bytes;
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
  EXPECT_TRUE(bytes.substr(1, 10) == before || bytes.substr(1, 10) == after) << bytes;
  EXPECT_NE(bytes.find("[ERROR] \xD0\x9F\xD1\x83\xD1\x82\xD1\x8C: C:\\\xD0\x98\xD0\xB3\xD1\x80"
                       "\xD1\x8B\\Kestrivon\n"),
            std::string::npos)
      << "UTF-8 without a byte-order mark expected";
}

TEST(LogFile, CreatesMissingFoldersAndHandlesADriveRoot) {
  TempFolder folder(L"log-folders");
  LogFile nested(folder.Join(L"a\\b\\logs"));
  nested.Write(L"[INFO] x");
  EXPECT_TRUE(FileExists(folder.Join(L"a\\b\\logs\\Kestrivon_Updater.log")));

  // An install directory at a drive root must not give "D:\\logs".
  LogFile atRoot(L"D:\\");
  EXPECT_EQ(atRoot.FilePath(), L"D:\\Kestrivon_Updater.log");
}

TEST(LogFile, RotatesOnlyPastOneMebibyteAtTheFirstRecord) {
  {
    TempFolder folder(L"log-exact");
    LogFile log(folder.Path());
    ASSERT_TRUE(WriteFileBytes(log.FilePath(), std::string(kMiB, 'x')));
    log.Write(L"[INFO] appended");
    EXPECT_FALSE(FileExists(log.PreviousPath()));
    EXPECT_GT(FileSize(log.FilePath()), kMiB);
  }
  {
    TempFolder folder(L"log-over");
    LogFile log(folder.Path());
    ASSERT_TRUE(WriteFileBytes(log.FilePath(), std::string(kMiB + 1, 'x')));
    ASSERT_TRUE(WriteFileBytes(log.PreviousPath(), "older generation"));
    log.Write(L"[INFO] fresh");
    EXPECT_EQ(FileSize(log.PreviousPath()), kMiB + 1);
    const std::vector<std::string> lines = Lines(ReadFileBytes(log.FilePath()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("[INFO] fresh"));
  }
}

TEST(LogFile, FileGrownDuringARunIsRotatedByTheNextRun) {
  TempFolder folder(L"log-grow");
  {
    LogFile run(folder.Path());
    run.Write(L"[INFO] first run starts");
    std::string bytes = ReadFileBytes(run.FilePath());
    ASSERT_TRUE(WriteFileBytes(run.FilePath(), bytes + std::string(kMiB, 'y')));
    run.Write(L"[INFO] first run goes on");
    EXPECT_FALSE(FileExists(run.PreviousPath()));
  }
  LogFile nextRun(folder.Path());
  nextRun.Write(L"[INFO] second run");
  EXPECT_GT(FileSize(nextRun.PreviousPath()), kMiB);
  EXPECT_EQ(Lines(ReadFileBytes(nextRun.FilePath())).size(), 1u);
}

TEST(LogFile, FailedRotationIsNotRetriedInTheSameRun) {
  TempFolder folder(L"log-rotate-locked");
  LogFile log(folder.Path());
  ASSERT_TRUE(WriteFileBytes(log.FilePath(), std::string(kMiB + 1, 'x')));
  ASSERT_TRUE(WriteFileBytes(log.PreviousPath(), "locked"));
  ExclusiveLock previous(log.PreviousPath());
  ASSERT_TRUE(previous.Held());

  log.Write(L"[INFO] one");
  previous.Release();
  log.Write(L"[INFO] two");

  EXPECT_EQ(ReadFileBytes(log.PreviousPath()), "locked");
  const std::string bytes = ReadFileBytes(log.FilePath());
  EXPECT_GT(bytes.size(), kMiB + 1);
  EXPECT_NE(bytes.find("[INFO] one\n"), std::string::npos);
  EXPECT_NE(bytes.find("[INFO] two\n"), std::string::npos);
}

TEST(LogFile, UnwritableLogDropsRecordsQuietly) {
  TempFolder folder(L"log-unwritable");
  {
    LogFile log(folder.Path());
    log.Write(L"[INFO] kept");
    ExclusiveLock lock(log.FilePath());
    ASSERT_TRUE(lock.Held());
    log.Write(L"[INFO] dropped");
    lock.Release();
    log.Write(L"[INFO] kept again");
    const std::vector<std::string> lines = Lines(ReadFileBytes(log.FilePath()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[1].ends_with("kept again"));
  }
  {
    // The log folder's name is taken by a file: neither folder nor log can be made.
    ASSERT_TRUE(WriteFileBytes(folder.Join(L"logs"), "not a folder"));
    LogFile log(folder.Join(L"logs"));
    log.Write(L"[INFO] nowhere to go");
    EXPECT_EQ(ReadFileBytes(folder.Join(L"logs")), "not a folder");
  }
}

TEST(CoreLogSink, LinesByLevel) {
  EXPECT_EQ(CoreLogLine(core::LogLevel::Info, "plain"), L"[INFO] plain");
  EXPECT_EQ(CoreLogLine(core::LogLevel::Warning, "careful"), L"[WARN] careful");
  EXPECT_EQ(CoreLogLine(core::LogLevel::Error, "\xD0\xBE\xD0\xB9"), L"[ERROR] ой");
  EXPECT_EQ(CoreLogLine(core::LogLevel::Info, ""), L"[INFO] ");
  EXPECT_EQ(CoreLogLine(static_cast<core::LogLevel>(7), "ignored"), std::nullopt);
}

TEST(FormatSystemError, SystemTextWithoutLineEnds) {
  const std::wstring notFound = FormatSystemError(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(notFound.empty());
  EXPECT_FALSE(notFound.ends_with(L"\n") || notFound.ends_with(L"\r")) << notFound;
  EXPECT_EQ(FormatSystemError(0xE0000123u), L"");
}

}  // namespace
}  // namespace kestrivon::win
