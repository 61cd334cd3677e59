// The Windows host's own behaviour: the Cancel button, the installed test, the failure text.

#include "win/app/win_updater_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "tests/support/temp_dir.h"
#include "win/base/process_state.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

using core::Component;
using core::Stage;

// Never while the updater replaces itself, nor once the components are done.
TEST(WinUpdaterHost, CancelIsOfferedWhileWorkCanStop) {
  const std::pair<Stage, bool> run[] = {
      {Stage::Preparing, false},
      {Stage::DownloadingUpdater, true},
      {Stage::ApplyingUpdaterUpdate, false},
      {Stage::CheckingComponents, false},
      {Stage::UpdatingComponents, true},
      {Stage::DownloadingComponent, true},
      {Stage::InstallingComponent, true},
      {Stage::ComponentsDone, false},
      {Stage::UpdatingComponents, true},
  };
  testing::TempDir dir;
  {
    WinUpdaterHost host(dir.path().wstring(), nullptr);
    for (const auto& [stage, offered] : run) {
      host.SetStage(stage, Component::Jre, 10);
      EXPECT_EQ(cancelAvailable.load(), offered) << static_cast<int>(stage);
    }
  }
  EXPECT_FALSE(cancelAvailable.load()) << "the button must not outlive the host";
}

// A present or missing launcher: the end-to-end runs.
TEST(WinUpdaterHost, InstalledMeansAFile) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir.path() / L"runtime\\bin\\java.exe");
  EXPECT_FALSE(WinUpdaterHost(dir.path().wstring(), nullptr).IsInstalled(Component::Jre))
      << "a folder named java.exe is no runtime";
}

// The error view itself: the window tests.
TEST(WinUpdaterHost, FailuresTheUserCanActOnNameTheInstallPath) {
  const std::pair<core::Failure, const wchar_t*> cases[] = {
      {core::Failure::InstallFailed, currentUiStrings->errorExtractFailed},
      {core::Failure::NotEnoughSpace, currentUiStrings->errorNotEnoughSpace},
  };
  for (const auto& [failure, text] : cases) {
    WinUpdaterHost(L"D:\\Games\\Kestrivon", nullptr).ShowFailure(failure, {});
    EXPECT_EQ(uiState.detailLine, std::wstring(text) + L"D:\\Games\\Kestrivon");
    errorShown = false;  // it would freeze the other tests' status lines
  }
}

}  // namespace
}  // namespace kestrivon::win
