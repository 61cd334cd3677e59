// ExpandArchive between the extractor and the window: the status it leaves, the user's
// cancellation and the log line of a failure.

#include "win/host/expand_archive.h"

#include <filesystem>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/file_tree.h"
#include "tests/support/process_log.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"
#include "win/host/process_state.h"
#include "win/ui/ui_state.h"

namespace kestrivon::win {
namespace {

using testing::TempDir;

TEST(ExpandArchive, StatusCountsFilesAgainstAllEntries) {
  TempDir root;
  // 100 files and their folder: 101 entries, so the last report (the 100th file) is 99%.
  testing::ZipWriter zip;
  zip.AddDirectory("jdk/");
  for (int i = 0; i < 100; ++i) zip.AddFile("jdk/f" + std::to_string(i), "data");
  ASSERT_TRUE(zip.WriteTo(root.path() / L"a.zip"));
  errorShown = false;

  ASSERT_TRUE(ExpandArchive((root.path() / L"a.zip").wstring(), (root.path() / L"out").wstring(),
                            L"Unpacking", 30, 40, L"", false));
  EXPECT_EQ(testing::ReadFileBytes(root.path() / L"out\\jdk\\f99"), "data");
  const std::lock_guard lock(uiStateMutex);
  EXPECT_EQ(uiState.statusLine, L"Unpacking (99%)");
  EXPECT_FLOAT_EQ(uiState.progress, 0.69f);  // 30 + 40 * 99 / 100, truncated
}

TEST(ExpandArchive, CancellationStopsBeforeTheNextEntry) {
  TempDir root;
  ASSERT_TRUE(testing::ZipWriter().AddFile("a.txt", "a").WriteTo(root.path() / L"a.zip"));
  testing::ProcessLogTail log;
  cancelRequested = true;
  const bool expanded =
      ExpandArchive((root.path() / L"a.zip").wstring(), (root.path() / L"out").wstring(),
                    L"Unpacking", 0, 10, L"", false);
  cancelRequested = false;  // the flag is never cleared in the program; other tests need it off

  EXPECT_FALSE(expanded);
  EXPECT_FALSE(std::filesystem::exists(root.path() / L"out\\a.txt"));
  EXPECT_TRUE(log.Text().ends_with("] [ERROR] Extraction failed: cancelled\n")) << log.Text();
}

}  // namespace
}  // namespace kestrivon::win
