#include "win/app/run_driver.h"

#include "core/update_run.h"
#include "win/app/win_updater_host.h"
#include "win/base/code_page.h"
#include "win/base/process_state.h"
#include "win/base/text_encoding.h"
#include "win/install/launcher_start.h"
#include "win/install/launcher_window.h"
#include "win/log/log_file.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

// Exit code of a finished run: Ready becomes 0 when the launcher started and 2 when it did
// not; Restarted 0; Cancelled and Failed 1.
int ExitCodeForRun(core::RunResult result, bool launcherStarted) {
  switch (result) {
    case core::RunResult::Ready:
      return launcherStarted ? 0 : 2;
    case core::RunResult::Restarted:
      return 0;
    case core::RunResult::Cancelled:
    case core::RunResult::Failed:
      return 1;
  }
  return 1;
}

}  // namespace

int RunUpdateAndLaunch(const std::wstring& installDir, UniqueHandle* instanceMutex) {
  // The run empties "temp" and replaces "app" and "runtime" in the install folder: a drive, a
  // share or a system folder would lose whatever of those names is already there.
  if (const core::InstallFolderProblem problem = InstallDirProblem();
      problem != core::InstallFolderProblem::None) {
    WriteLogLine(L"[ERROR] The install folder is " +
                 WideFromUtf8(core::InstallFolderProblemText(problem)) + L": " + installDir);
    ShowError(currentUiStrings->errorInstallPathRefused + installDir);
    return 1;
  }
  // The Java runtime cannot start from a path its code page cannot spell: refuse before any
  // download rather than install something that will never run.
  const uint32_t codePage = SystemAnsiCodePage();
  if (!IsRepresentableInCodePage(installDir, codePage)) {
    WriteLogLine(L"[ERROR] Install dir is not representable in the system ANSI code page " +
                 std::to_wstring(codePage));
    ShowError(currentUiStrings->errorPathNotRepresentable + installDir);
    return 1;
  }
  if (IsLauncherRunning(installDir)) {
    ShowError(currentUiStrings->errorLauncherRunning);
    return 1;
  }
  WinUpdaterHost host(installDir, instanceMutex);
  const core::RunResult result = core::RunUpdate(host);
  // A failure that showed nothing got past every expected path (the engine's border logged
  // it): the window must not just close.
  if (result == core::RunResult::Failed && !errorShown.load()) {
    ShowError(currentUiStrings->errorUnexpected);
  }
  const bool launcherStarted = result == core::RunResult::Ready && StartLauncher(installDir);
  return ExitCodeForRun(result, launcherStarted);
}

}  // namespace kestrivon::win
