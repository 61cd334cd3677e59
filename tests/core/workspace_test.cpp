#include "core/workspace.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include "core/link_probe.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << "x";
}

// Symbolic links stand in for junctions. Under Wine a Unix symbolic link shows as a
// directory reparse point, so the Windows build makes one with the host's ln (Wine starts
// native programs); on real Windows, where that fails, the test is skipped.
bool MakeDirectoryLink(const fs::path& target, const fs::path& link) {
#ifdef _WIN32
  const std::wstring relative = fs::relative(target, link.parent_path()).generic_wstring();
  std::wstring command = L"Z:\\bin\\ln -s " + relative + L" " + link.filename().wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      link.parent_path().c_str(), &startup, &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine may signal a native child's end before the child has finished; wait for the link.
  for (int i = 0; i < 100 && !IsLinkOrJunction(link); ++i) Sleep(50);
  return IsLinkOrJunction(link);
#else
  std::error_code error;
  fs::create_directory_symlink(target, link, error);
  return !error;
#endif
}

// Links inside "temp" go as links, and what cannot be removed is reported while the rest goes;
// a "temp" that is missing, a plain file or a link is left alone. Nothing is ever followed.
TEST(CleanWorkspace, RemovesWhatItCanAndFollowsNothing) {
  testing::TempDir dir;
  const fs::path temp = dir.path() / "install" / "temp";
  const fs::path elsewhere = dir.path() / "elsewhere";
  Touch(elsewhere / "precious.txt");
  for (const char* file : {"a-first.txt", "locked.zip", "nested/file.txt", "z-last/file.txt"}) {
    Touch(temp / file);
  }
  const testing::LogCapture log;
  if (!MakeDirectoryLink(elsewhere, temp / "link")) GTEST_SKIP() << "no directory links here";
  ASSERT_TRUE(MakeDirectoryLink(elsewhere, temp / "nested" / "deep-link"));
  {
    // The C library opens without delete sharing: on Windows the file cannot go while open.
    std::ifstream holder(temp / "locked.zip", std::ios::binary);
    CleanWorkspace(temp.parent_path());
  }

  const fs::path other = dir.path() / "other";
  CleanWorkspace(other);
  Touch(other / "temp");
  CleanWorkspace(other);
  EXPECT_TRUE(fs::is_regular_file(other / "temp"));
  fs::remove(other / "temp");
  ASSERT_TRUE(MakeDirectoryLink(elsewhere, other / "temp"));
  CleanWorkspace(other);
  EXPECT_TRUE(IsLinkOrJunction(other / "temp"));
  EXPECT_TRUE(fs::exists(elsewhere / "precious.txt"));
#ifdef _WIN32
  // Wine cannot delete a Unix link through the Windows file calls (real Windows removes a
  // junction with RemoveDirectoryW): the two links inside stay, each reported.
  EXPECT_TRUE(IsLinkOrJunction(temp / "link"));
  EXPECT_TRUE(fs::exists(temp / "locked.zip"));
  EXPECT_FALSE(fs::exists(temp / "a-first.txt"));
  EXPECT_FALSE(fs::exists(temp / "z-last"));
  EXPECT_EQ(log.Texts().size(), 3u);
  EXPECT_TRUE(std::ranges::any_of(log.Texts(), [](const std::string& text) {
    return text.starts_with("[WARN] Can't remove \\\\?\\") && text.contains("locked.zip: ");
  }));
#else
  EXPECT_TRUE(fs::is_empty(temp));
  EXPECT_TRUE(log.Texts().empty());
#endif
}

// At the start of a run a package with a readable record stays for the manifest to decide;
// one whose record is damaged or missing goes, as does everything else.
TEST(CleanWorkspace, KeepsOnlyPartialDownloadsWithReadableRecords) {
  testing::TempDir dir;
  const fs::path temp = dir.path() / "temp";
  const std::string record =
      "url=https://h/j.zip\nsize=9\nsha256=" + std::string(64, 'a') + "\nvalidator=\"v\"\n";
  for (const char* file :
       {"jre-package.zip", "launcher-package.zip", "updater-package.zip", "stage/file.txt"}) {
    Touch(temp / file);
  }
  std::ofstream(temp / "jre-package.zip.resume", std::ios::binary) << record;
  std::ofstream(temp / "launcher-package.zip.resume", std::ios::binary) << record.substr(1);
  std::ofstream(temp / "orphan.zip.resume", std::ios::binary) << record;

  CleanWorkspace(dir.path(), PartialDownloads::Keep);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(temp)) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"jre-package.zip", "jre-package.zip.resume"}));
  CleanWorkspace(dir.path());
  EXPECT_TRUE(fs::is_empty(temp));
}

}  // namespace
}  // namespace kestrivon::core
