// Reading the install path from the real registry of the Wine prefix (the install directory
// fixed per process: LauncherStartOwnProcess; the instance mutex: self-replacement tests and
// end-to-end runs).

#include "win/base/process_state.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/support/wine_test_support.h"

namespace kestrivon::win {
namespace {

TEST(ProcessState, RegistryInstallPathValidation) {
  struct Case {
    std::wstring stored;
    std::wstring expected;  // empty: none read, the default is used
    DWORD type = REG_SZ;
    bool terminated = true;  // stored with its NUL
  };
  const Case cases[] = {
      {LR"(D:\Games\Kestrivon/\/)", LR"(D:\Games\Kestrivon)"},
      {LR"(D:\\)", LR"(D:\)"},
      {LR"(\\server\share\)", LR"(\\server\share)"},
      // Read as they are; the install folder rules judge them.
      {LR"(C:/Games)", LR"(C:/Games)"},
      {LR"(\Games)", LR"(\Games)"},
      {LR"(D:\Games)", L"", REG_BINARY},  // a path, but not stored as a string
      {std::wstring(L"D:\\Games\0C:\\Other", 17), L"D:\\Games"},  // cut at the embedded NUL
      {L"E:\\K", L"E:\\K", REG_SZ, false},  // stored without its NUL, still read whole
  };
  for (const Case& c : cases) {
    const DWORD bytes = static_cast<DWORD>((c.stored.size() + c.terminated) * sizeof(wchar_t));
    testing::ScopedRegistryValue value(HKEY_CURRENT_USER, testing::kInstallPathKey,
                                       testing::kInstallPathName, c.type, c.stored.c_str(), bytes);
    ASSERT_TRUE(value.Ok());
    EXPECT_EQ(ReadInstallPathFromRegistry(), c.expected) << "stored: " << c.stored;
  }
}

}  // namespace
}  // namespace kestrivon::win
