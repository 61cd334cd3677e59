#include "win/ui/download_status.h"

#include <gtest/gtest.h>

#include <mutex>

#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

// The window's form reaches the window state, with the catalogue's unit.
TEST(DownloadStatus, ReportReachesTheWindowState) {
  DownloadProgressReporter(L"Downloading Java...", 40, 28)(5 * 1024 * 1024, 10 * 1024 * 1024);
  const std::lock_guard lock(uiStateMutex);
  EXPECT_EQ(uiState.statusLine, L"Downloading Java...");
  EXPECT_EQ(uiState.detailLine,
            std::wstring(L"5.0 / 10.0") + currentUiStrings->unitMegabytes + L" (50%)");
  EXPECT_FLOAT_EQ(uiState.progress, 0.54f);
}

}  // namespace
}  // namespace kestrivon::win
