// A failure nobody expected inside the engine ends in the error view, never in a window that
// just closes.

#include "win/app/run_driver.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/support/temp_dir.h"
#include "win/base/test_seam.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

TEST(RunDriver, AnUnexpectedFailureShowsTheErrorView) {
  const testing::TempDir dir;
  testSeam.stageSet = [] { throw std::runtime_error("injected"); };
  const int exitCode = RunUpdateAndLaunch(dir.path().wstring(), nullptr);
  testSeam.stageSet = nullptr;
  EXPECT_EQ(exitCode, 1);
  EXPECT_TRUE(errorShown.load());
  EXPECT_EQ(uiState.detailLine, std::wstring(currentUiStrings->errorUnexpected));
  errorShown = false;  // it would freeze the other tests' status lines
}

}  // namespace
}  // namespace kestrivon::win
