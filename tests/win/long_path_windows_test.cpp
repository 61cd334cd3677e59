// ToLongPath against the real Windows file API: a path far beyond MAX_PATH, written with
// forward slashes, must open once converted.

#include <windows.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "core/long_path.h"
#include "win/host/unique_handle.h"

namespace kestrivon::core {
namespace {

TEST(LongPathWindows, DeepPathWithForwardSlashesOpens) {
  const std::wstring base = std::filesystem::temp_directory_path().wstring() +
                            L"kestrivon-long-path-" + std::to_wstring(GetCurrentProcessId());
  std::wstring deep = base;
  for (int i = 0; i < 12; ++i) deep += L"/segment-with-a-fairly-long-name-" + std::to_wstring(i);
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(ToLongPath(deep)), error);
  ASSERT_FALSE(error) << error.message();

  const std::wstring file = ToLongPath(deep + L"/file.txt");
  ASSERT_TRUE(win::UniqueFile(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr)))
      << GetLastError();

  // Leaf first: mingw's directory iteration (and so remove_all) fails on paths of about
  // 400 characters, while the plain calls work at any length.
  for (std::filesystem::path current(file); current.native().size() >= ToLongPath(base).size();
       current = current.parent_path()) {
    EXPECT_TRUE(std::filesystem::remove(current, error)) << error.message();
  }
}

}  // namespace
}  // namespace kestrivon::core
