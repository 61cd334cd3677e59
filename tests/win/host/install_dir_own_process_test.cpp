// ResolveInstallDir is fixed at its first call, so each case runs in a process of its own
// (see tests/win/host/CMakeLists.txt).

#include "win/host/process_state.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/win/wine_test_support.h"

namespace kestrivon::win {
namespace {

using testing::RunsInOwnProcess;
using testing::ScopedInstallPathValue;

std::wstring KnownLocalAppData() {
  PWSTR folder = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder))) {
    result = folder;
  }
  CoTaskMemFree(folder);
  return result;
}

// Points the user's local application data folder somewhere else for the life of the object.
class ScopedLocalAppData {
 public:
  explicit ScopedLocalAppData(const std::wstring& folder) {
    DWORD bytes = sizeof(previous_);
    hadPrevious_ = RegGetValueW(HKEY_CURRENT_USER, kKey, kValue, RRF_RT_ANY | RRF_NOEXPAND,
                                &previousType_, previous_, &bytes) == ERROR_SUCCESS;
    previousBytes_ = bytes;
    ok_ =
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, REG_SZ, folder.c_str(),
                        static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  ~ScopedLocalAppData() {
    if (hadPrevious_) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, previousType_, previous_, previousBytes_);
    } else {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kValue);
    }
  }
  bool Ok() const { return ok_; }

 private:
  static constexpr wchar_t kKey[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  static constexpr wchar_t kValue[] = L"Local AppData";
  wchar_t previous_[1024] = {};
  DWORD previousType_ = REG_NONE;
  DWORD previousBytes_ = 0;
  bool hadPrevious_ = false;
  bool ok_ = false;
};

TEST(InstallDirOwnProcess, RegistryValueIsReadOnceForTheProcess) {
  if (!RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  {
    ScopedInstallPathValue value(L"D:\\Games\\Kestrivon\\\\");
    ASSERT_TRUE(value.Ok());
    // Concurrent first calls must agree on one value.
    std::vector<std::future<std::wstring>> calls;
    for (int i = 0; i < 4; ++i) calls.push_back(std::async(std::launch::async, ResolveInstallDir));
    for (auto& call : calls) EXPECT_EQ(call.get(), L"D:\\Games\\Kestrivon");
  }
  {
    ScopedInstallPathValue changed(L"E:\\Elsewhere");
    EXPECT_EQ(ResolveInstallDir(), L"D:\\Games\\Kestrivon");
  }
  EXPECT_EQ(ResolveInstallDir(), L"D:\\Games\\Kestrivon");
}

TEST(InstallDirOwnProcess, RejectedValueFallsBackToLocalAppDataWithOneSeparator) {
  if (!RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  ScopedInstallPathValue value(L"C:/Games/Kestrivon");
  ASSERT_TRUE(value.Ok());
  testing::TempFolder folder(L"appdata");
  ScopedLocalAppData redirected(folder.Path() + L"\\");
  ASSERT_TRUE(redirected.Ok());
  const std::wstring local = KnownLocalAppData();
  ASSERT_EQ(local, folder.Path() + L"\\") << "the folder setting was not honoured";
  EXPECT_EQ(ResolveInstallDir(), folder.Path() + L"\\Kestrivon");
}

}  // namespace
}  // namespace kestrivon::win
