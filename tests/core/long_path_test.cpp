#include "core/long_path.h"

#include <gtest/gtest.h>

namespace kestrivon::core {
namespace {

TEST(LongPath, AbsoluteDrivePathsGetThePrefixAndBackslashes) {
  EXPECT_EQ(ToLongPath(L"C:\\Games/Kestrivon"), L"\\\\?\\C:\\Games\\Kestrivon");
  EXPECT_EQ(ToLongPath(L"d:/a/b"), L"\\\\?\\d:\\a\\b");
  EXPECT_EQ(ToLongPath(L"C:\\"), L"\\\\?\\C:\\");
}

TEST(LongPath, UncPathsUseTheUncPrefix) {
  EXPECT_EQ(ToLongPath(L"\\\\server\\share\\dir"), L"\\\\?\\UNC\\server\\share\\dir");
  // Forward slashes would not survive behind "\\?\", and a leading pair of either kind
  // names a server.
  EXPECT_EQ(ToLongPath(L"\\\\server\\share/dir/x"), L"\\\\?\\UNC\\server\\share\\dir\\x");
  EXPECT_EQ(ToLongPath(L"//server/share/dir"), L"\\\\?\\UNC\\server\\share\\dir");
  EXPECT_EQ(ToLongPath(L"\\/server\\share"), L"\\\\?\\UNC\\server\\share");
}

TEST(LongPath, RelativeAndAlreadyLongPathsAreUnchanged) {
  for (const wchar_t* path : {L"", L"relative\\dir", L"rel/dir", L"C:name", L"C:", L"\\rooted",
                              L"/rooted", L"1:\\x", L"\\\\?\\C:\\x/y", L"\\\\?\\UNC\\s\\x"}) {
    EXPECT_EQ(ToLongPath(path), path) << std::wstring(path).size();
  }
}

}  // namespace
}  // namespace kestrivon::core
