// The Windows host's own behaviour: the Cancel button across a run's stages, the prompt rows
// it builds, the installed-component test, and the failure message with the install path.

#include "win/host/win_updater_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"
#include "win/host/process_state.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

using core::Component;
using core::Stage;

TEST(WinUpdaterHost, CancelButtonIsOfferedWhileWorkCanBeCancelled) {
  struct Step {
    Stage stage;
    std::optional<Component> component;
    bool cancelOffered;
    const wchar_t* status;  // null: the status line stays as it was
  };
  const UiStrings& text = GetUiStrings(UiLanguage::English);
  const Step run[] = {
      {Stage::Preparing, {}, false, text.statusPreparing},
      {Stage::DownloadingUpdater, {}, true, text.statusDownloadingUpdate},
      {Stage::ApplyingUpdaterUpdate, {}, false, text.statusApplyingUpdate},
      {Stage::UpdatingComponents, {}, true, nullptr},
      {Stage::DownloadingComponent, Component::Jre, true, text.statusDownloadingJava},
      {Stage::InstallingComponent, Component::Launcher, true, text.statusInstallingLauncher},
      {Stage::InstallingComponent, {}, true, nullptr},
      {Stage::ComponentsDone, {}, false, nullptr},
  };
  {
    WinUpdaterHost host(L"C:\\Games\\Kestrivon", nullptr);
    std::wstring expectedStatus;
    for (const Step& step : run) {
      host.SetStage(step.stage, step.component, 10);
      if (step.status != nullptr) expectedStatus = step.status;
      SCOPED_TRACE(static_cast<int>(step.stage));
      EXPECT_EQ(cancelAvailable.load(), step.cancelOffered);
      const std::lock_guard lock(uiStateMutex);
      EXPECT_EQ(uiState.statusLine, expectedStatus);
    }
    host.SetStage(Stage::UpdatingComponents, {}, 10);
  }
  EXPECT_FALSE(cancelAvailable.load()) << "the button must not outlive the host";
}

TEST(WinUpdaterHost, PromptRowsNameComponentsAndVersions) {
  using Row = std::tuple<std::wstring, std::wstring, std::wstring, uint64_t>;
  std::vector<Row> rows;
  std::vector<PromptRow> built =
      ComponentPromptRows({{Component::Jre, "", {true, "21.0.5", "", "", "", 50'646'835}},
                           {Component::Launcher, "2.0.\xD1\x8F", {true, "2.1", "", "", "", 7}}});
  built.push_back(UpdaterPromptRow({true, "1.4.0", "", "", "", 900}));
  for (const PromptRow& row : built) {
    rows.emplace_back(row.name, row.installedVersion, row.newVersion, row.sizeBytes);
  }
  const UiStrings& text = *currentUiStrings;
  EXPECT_EQ(rows,
            (std::vector<Row>{{text.componentJava, text.versionNotInstalled, L"21.0.5", 50'646'835},
                              {text.componentLauncher, L"2.0.\x044F", L"2.1", 7},
                              {text.componentUpdater, L"1.0.0", L"1.4.0", 900}}));
}

TEST(WinUpdaterHost, InstalledMeansTheMainExecutableIsAFile) {
  testing::TempDir dir;
  WinUpdaterHost host(dir.path().wstring(), nullptr);
  EXPECT_FALSE(host.IsInstalled(Component::Launcher));
  std::filesystem::create_directories(dir.path() / L"runtime\\bin\\java.exe");
  ASSERT_TRUE(testing::WriteFileBytes(dir.path() / L"KestrivonLauncher.exe", "MZ"));
  EXPECT_TRUE(host.IsInstalled(Component::Launcher));
  EXPECT_FALSE(host.IsInstalled(Component::Jre)) << "a folder named java.exe is no runtime";
}

// ShowError switches the process to the error view for good.
TEST(WinUpdaterHostOwnProcess, InstallFailureShowsTheInstallPath) {
  if (!testing::RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  WinUpdaterHost host(L"D:\\Games\\Kestrivon", nullptr);
  host.SetStage(Stage::UpdatingComponents, {}, 40);
  host.ShowFailure(core::Failure::InstallFailed, Component::Jre);
  EXPECT_TRUE(errorShown.load());
  EXPECT_FALSE(cancelAvailable.load());
  const std::lock_guard lock(uiStateMutex);
  EXPECT_EQ(uiState.detailLine,
            std::wstring(currentUiStrings->errorExtractFailed) + L"D:\\Games\\Kestrivon");
}

}  // namespace
}  // namespace kestrivon::win
