#include "core/long_path.h"

#include <fstream>
#include <iterator>
#include <string>

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

// A fresh file starts empty and is written from its start, whether it is new or something was
// there; where no file can be made it is not open.
TEST(LongPath, FreshFilesStartEmpty) {
  namespace fs = std::filesystem;
  const testing::TempDir dir;
  std::ofstream(dir.path() / "old", std::ios::binary) << "an older, longer file";
  fs::create_directories(dir.path() / "folder");
  for (const char* name : {"new", "old"}) {
    std::ofstream out = OpenFreshFile(dir.path() / name);
    ASSERT_TRUE(out.is_open()) << name;
    out << "abc"
        << "def";
    out.close();
    std::ifstream in(dir.path() / name, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "abcdef") << name;
  }
  EXPECT_FALSE(OpenFreshFile(dir.path() / "folder").is_open());
  EXPECT_FALSE(OpenFreshFile(dir.path() / "missing" / "file").is_open());
}

}  // namespace
}  // namespace kestrivon::core
