#include "core/long_path.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

TEST(LongPath, AbsolutePathsGetTheirPrefixAndBackslashesOthersStayAsTheyAre) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\Games/Kestrivon", L"\\\\?\\C:\\Games\\Kestrivon"},
      {L"d:/a/b", L"\\\\?\\d:\\a\\b"},
      {L"C:\\", L"\\\\?\\C:\\"},
      // Forward slashes would not survive behind "\\?\", and a leading pair of either kind
      // names a server.
      {L"\\\\server\\share/dir/x", L"\\\\?\\UNC\\server\\share\\dir\\x"},
      {L"//server/share/dir", L"\\\\?\\UNC\\server\\share\\dir"},
      {L"\\/server\\share", L"\\\\?\\UNC\\server\\share"},
  };
  for (const auto& [path, longPath] : cases) EXPECT_EQ(ToLongPath(path), longPath);
  for (const wchar_t* path : {L"", L"relative\\dir", L"rel/dir", L"C:name", L"C:", L"\\rooted",
                              L"/rooted", L"1:\\x", L"\\\\?\\C:\\x/y", L"\\\\?\\UNC\\s\\x"}) {
    EXPECT_EQ(ToLongPath(path), path) << std::wstring(path).size();
  }
}

// Under Wine this is the long-path form the standard library cannot measure through.
TEST(LongPath, FreeSpaceIsKnownForFoldersThatExistOrAreYetToBeMade) {
  const testing::TempDir dir;
  for (const std::filesystem::path& folder :
       {dir.path(), dir.path() / "not" / "made" / "yet", LongPath(dir.path() / "temp")}) {
    EXPECT_GT(AvailableBytes(folder).value_or(0), 0u) << folder;
  }
}

}  // namespace
}  // namespace kestrivon::core
