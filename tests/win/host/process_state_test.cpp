// Install-path validation against the real registry of the Wine prefix and the instance mutex
// within and across processes. The executable path beyond MAX_PATH is checked by the probe
// itself, started from a deep folder (see CMakeLists.txt).

#include "win/host/process_state.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/win/wine_test_support.h"

namespace kestrivon::win {
namespace {

using testing::ScopedInstallPathValue;

std::wstring ProbePath() { return testing::ExecutableFolder() + L"\\kestrivon_win_probe.exe"; }

// Runs a program to its end; the exit code, or -1 when it could not be started.
int RunProcess(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

TEST(ProcessState, RegistryInstallPathValidation) {
  struct Case {
    std::wstring stored;
    std::wstring expected;  // empty: rejected, the default is used
  };
  const std::vector<Case> cases = {
      {LR"(D:\Games\Kestrivon\\)", LR"(D:\Games\Kestrivon)"},
      {LR"(D:\Games\Kestrivon/\/)", LR"(D:\Games\Kestrivon)"},
      {LR"(D:\)", LR"(D:\)"},
      {LR"(D:\\)", LR"(D:\)"},
      {LR"(D:\Игры\Kestrivon)", LR"(D:\Игры\Kestrivon)"},
      {LR"(\\server\share\Kestrivon)", LR"(\\server\share\Kestrivon)"},
      {LR"(\\server\share\)", LR"(\\server\share)"},
      {LR"(Games\Kestrivon)", L""},
      {LR"(C:/Games)", L""},
      {LR"(C:Games)", L""},
      {LR"(C:)", L""},
      {LR"(\Games)", L""},
      {L"", L""},
  };
  for (const Case& c : cases) {
    ScopedInstallPathValue value(c.stored);
    ASSERT_TRUE(value.Ok());
    EXPECT_EQ(ReadInstallPathFromRegistry(), c.expected) << "stored: " << c.stored;
  }
}

TEST(ProcessState, RegistryValueMissingOrOfTheWrongKind) {
  testing::DeleteInstallPathValue();
  EXPECT_EQ(ReadInstallPathFromRegistry(), L"");

  const DWORD number = 42;
  {
    ScopedInstallPathValue value(REG_DWORD, &number, sizeof(number));
    ASSERT_TRUE(value.Ok());
    EXPECT_EQ(ReadInstallPathFromRegistry(), L"");
  }
  {
    // Text after an embedded NUL is not part of the path.
    const wchar_t text[] = L"D:\\Games\0C:\\Other";
    ScopedInstallPathValue value(REG_SZ, text, sizeof(text));
    ASSERT_TRUE(value.Ok());
    EXPECT_EQ(ReadInstallPathFromRegistry(), L"D:\\Games");
  }
  {
    // A string without its terminating NUL still reads whole.
    const wchar_t text[] = {L'E', L':', L'\\', L'K'};
    ScopedInstallPathValue value(REG_SZ, text, sizeof(text));
    ASSERT_TRUE(value.Ok());
    EXPECT_EQ(ReadInstallPathFromRegistry(), L"E:\\K");
  }
}

TEST(ProcessState, SecondInstanceMutexIsRefusedUntilTheFirstIsClosed) {
  HANDLE first = nullptr;
  ASSERT_TRUE(AcquireInstanceMutex(first));
  ASSERT_NE(first, nullptr);

  HANDLE second = reinterpret_cast<HANDLE>(0x1234);
  EXPECT_FALSE(AcquireInstanceMutex(second));
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(RunProcess(ProbePath(), L"mutex"), 1) << "another process must see the holder";

  CloseHandle(first);
  EXPECT_EQ(RunProcess(ProbePath(), L"mutex"), 0);
  HANDLE again = nullptr;
  EXPECT_TRUE(AcquireInstanceMutex(again));
  EXPECT_NE(again, nullptr);
  CloseHandle(again);
}

TEST(ProcessState, CurrentExePathNamesTheRunningExecutable) {
  const std::wstring path = CurrentExePath();
  EXPECT_TRUE(path.ends_with(L"\\kestrivon_win_tests.exe")) << path;
  EXPECT_EQ(path.find(L'\0'), std::wstring::npos);
}

}  // namespace
}  // namespace kestrivon::win
