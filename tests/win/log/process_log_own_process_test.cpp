// The process-wide log: its place under the resolved install directory, its one rotation and
// the engine sink. The install directory is fixed per process, hence a process of its own.

#include "win/log/log_file.h"

#include <string>

#include <gtest/gtest.h>

#include "core/log.h"
#include "tests/win/wine_test_support.h"
#include "win/host/process_state.h"

namespace kestrivon::win {
namespace {

using testing::ReadFileBytes;

TEST(ProcessLogOwnProcess, WritesUnderTheInstallDirectory) {
  if (!testing::RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  testing::TempFolder installDir(L"process-log");
  testing::ScopedInstallPathValue value(installDir.Path());
  ASSERT_TRUE(value.Ok());
  ASSERT_EQ(ResolveInstallDir(), installDir.Path());

  const std::wstring logs = installDir.Join(L"logs");
  const std::wstring file = logs + L"\\Kestrivon_Updater.log";
  ASSERT_TRUE(CreateDirectoryW(logs.c_str(), nullptr));
  ASSERT_TRUE(testing::WriteFileBytes(file, std::string(1048577, 'x')));

  WriteLogLine(L"[INFO] host line");
  InstallCoreLogSink();
  core::Log(core::LogLevel::Warning, "engine line");
  core::Log(static_cast<core::LogLevel>(7), "never written");
  ASSERT_TRUE(testing::WriteFileBytes(file + L".1", ""));  // a second rotation would show
  core::Log(core::LogLevel::Error, "last line");

  const std::string bytes = ReadFileBytes(file);
  EXPECT_NE(bytes.find("] [INFO] host line\n"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find("] [WARN] engine line\n"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find("] [ERROR] last line\n"), std::string::npos) << bytes;
  EXPECT_EQ(bytes.find("never written"), std::string::npos);
  EXPECT_LT(bytes.size(), 200u) << "the oversized log was not rotated";
  EXPECT_EQ(testing::FileSize(file + L".1"), 0u);

  core::SetLogSink(nullptr);
}

}  // namespace
}  // namespace kestrivon::win
