// The file toolkit on a real (Wine) file system, beyond MAX_PATH too: the long-path form
// against the real API.

#include "win/install/file_ops.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/long_path.h"
#include "tests/support/file_tree.h"
#include "tests/support/temp_dir.h"
#include "win/base/text_encoding.h"
#include "win/log/log_file.h"

namespace kestrivon::win {
namespace {

namespace fs = std::filesystem;
using testing::FileTree;
using testing::ReadTree;
using Clock = std::chrono::steady_clock;

TEST(FileOps, FailedSwapIsUndoneRenamesWaitOutALockAndDeepTreesGo) {
  testing::TempDir root;
  testing::WriteTree(root.path(), {{"file.txt", "x"},
                                   {"runtime/old.txt", "old"},
                                   {"staged/new.txt", "new"},
                                   {"temp/", ""},
                                   {"tree/read-only.txt", "z"}});
  const FileTree before = ReadTree(root.path());
  const fs::path staged = root.path() / L"staged";
  UniqueFile lock = testing::HoldOpen(staged);
  ASSERT_TRUE(lock);

  // The old runtime goes aside, the held new one cannot follow: the old one comes back.
  const auto replaced = ReplaceDirectory(staged.wstring(), (root.path() / L"runtime").wstring(),
                                         (root.path() / L"temp\\backup-jre").wstring(), {3, 10});
  ASSERT_FALSE(replaced);
  EXPECT_EQ(replaced.error(), "can't move the new runtime into place: " +
                                  Utf8FromWide(FormatSystemError(ERROR_SHARING_VIOLATION)));
  EXPECT_EQ(ReadTree(root.path()), before);

  const fs::path to = root.path() / L"to";
  auto started = Clock::now();
  EXPECT_EQ(RenameWithRetry((root.path() / L"missing").wstring(), to.wstring(), {20, 1000}),
            uint32_t{ERROR_FILE_NOT_FOUND});
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(900)) << "waited for nothing";
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    lock.Reset();
  });
  started = Clock::now();
  EXPECT_EQ(RenameWithRetry(staged.wstring(), to.wstring(), {20, 50}), 0u);
  release.join();
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(150));

  // Past MAX_PATH yet short enough for Wine to list, with '/' that the long-path form converts.
  const fs::path tree = root.path() / L"tree";
  const std::wstring deep =
      tree.wstring() + L"/" + std::wstring(120, L'd') + L"/" + std::wstring(120, L'e');
  SetFileAttributesW((tree / L"read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(EnsureDirectory(deep));
  ASSERT_TRUE(testing::WriteFileBytes(core::ToLongPath(deep + L"/f"), "y"));
  EXPECT_TRUE(IsDirectory(deep));
  const std::wstring file = (root.path() / L"file.txt").wstring();
  EXPECT_TRUE(EnsureDirectory(file)) << "something exists there";
  EXPECT_TRUE(IsRegularFile(file));
  EXPECT_TRUE(RemovePath((root.path() / L"missing").wstring()));
  EXPECT_TRUE(RemovePath(tree.wstring()));
  EXPECT_EQ(ReadTree(root.path()), (FileTree{{"file.txt", "x"},
                                             {"runtime/", ""},
                                             {"runtime/old.txt", "old"},
                                             {"temp/", ""},
                                             {"to/", ""},
                                             {"to/new.txt", "new"}}));
}

}  // namespace
}  // namespace kestrivon::win
