// The program's entry: single instance, start-up order, the app-link handoff, the main window
// and the update worker, the message loop, the 2-second wind-down and the exit.

#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <system_error>
#include <thread>

#include "core/no_throw.h"
#include "core/version.h"
#include "handoff/app_link.h"
#include "win/app/run_driver.h"
#include "win/base/process_state.h"
#include "win/base/text_encoding.h"
#include "win/install/kill_point.h"
#include "win/install/launcher_start.h"
#include "win/install/launcher_window.h"
#include "win/install/protected_section.h"
#include "win/install/self_replace.h"
#include "win/log/log_file.h"
#include "win/net/winhttp_downloader.h"
#include "win/ui/graphics_owners.h"
#include "win/ui/main_window.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

constexpr wchar_t kPromptClass[] = L"Kestrivon_Update_Dialog";
constexpr auto kWorkerWindDown = std::chrono::seconds(2);
// Longer than any swap with its rename retries and rollback.
constexpr auto kSwapWait = std::chrono::seconds(60);

// One COM apartment for the calling thread, left when the scope ends.
class ComApartment {
 public:
  ComApartment() noexcept
      : initialized_(
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
  }
  ~ComApartment() { Leave(); }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  void Leave() noexcept {
    if (initialized_) CoUninitialize();
    initialized_ = false;
  }

 private:
  bool initialized_;
};

// Another updater runs in this logon session: bring its window forward, or the prompt it
// shows (the window's last active popup), so that the keyboard reaches what is asking.
void RaiseFirstInstance() {
  const HWND window = FindWindowW(kMainWindowClassName, nullptr);
  if (window == nullptr) return;
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  // The last active popup is the window itself once the window was activated past its modal
  // prompt (as Wine allows): the prompt is then found by its class.
  HWND popup = GetLastActivePopup(window);
  if (popup == nullptr || popup == window) popup = FindWindowW(kPromptClass, nullptr);
  SetForegroundWindow(popup != nullptr ? popup : window);
}

// Worker thread entry.
void WorkerBody(std::promise<void> done, std::atomic<int>* exitCode, const std::wstring* installDir,
                UniqueHandle* instanceMutex) {
  const bool finished = core::CallNoThrow("Update worker", [&] {
    ComApartment apartment;
    exitCode->exchange(RunUpdateAndLaunch(*installDir, instanceMutex));
    apartment.Leave();
    if (!errorShown.load()) {
      if (const HWND window = mainWindow.load()) PostMessageW(window, WM_CLOSE, 0, 0);
    }
  });
  // Stopped by a failure nobody expected (logged at the border): never a silent end.
  if (!finished && !errorShown.load()) {
    core::CallNoThrow("Update worker error", [] { ShowError(currentUiStrings->errorUnexpected); });
  }
  done.set_value();
}

bool WorkerStopped(const std::future<void>& finished) {
  const WorkerEnd end = WaitForWorkerEnd(finished, kWorkerWindDown, kSwapWait);
  return end == WorkerEnd::Stopped || end == WorkerEnd::StoppedAfterSwap;
}

// The orderly end: graphics, mutex, the final lines, COM; in this order.
int Finish(UniqueGdiplusSession& graphics, UniqueHandle& instanceMutex, ComApartment& apartment,
           const std::wstring& finalLine, int exitCode) {
  graphics.Reset();
  instanceMutex.Reset();
  WriteLogLine(L"[INFO] " + finalLine);
  WriteLogLine(L"");
  apartment.Leave();
  return exitCode;
}

int RunProgram(HINSTANCE instance) {
  ArmKillPointFromEnvironment();
  UniqueHandle instanceMutex;
  if (!AcquireInstanceMutex(instanceMutex)) {
    RaiseFirstInstance();
    return 0;
  }
  ComApartment apartment;
  UniqueGdiplusSession graphics = StartGdiplus();
  InstallCoreLogSink();
  const std::wstring installDir = ResolveInstallDir();
  WriteLogLine(L"[INFO] === Kestrivon Updater v" + WideFromUtf8(core::updaterVersion) +
               L" (Windows) ===");
  ChooseUiLanguage();
  WriteLogLine(L"[INFO] Install dir: " + installDir);
  if (const std::wstring arguments = ForwardedArguments(); !arguments.empty()) {
    WriteLogLine(L"[INFO] Arguments: " + arguments);
  }
  RemoveStaleUpdaterBackup();

  const std::optional<std::string> link = FindAppLink(CommandLineArgumentsUtf8());
  if (link || IsLauncherRunning(installDir)) {
    AllowSetForegroundWindow(ASFW_ANY);
    if (HandOffAppLink(installDir, link.value_or(kDefaultAppLink))) {
      return Finish(graphics, instanceMutex, apartment,
                    L"=== Kestrivon Updater finished (handed over to the running launcher) ===", 0);
    }
  }

  std::atomic<int> exitCode{1};
  const MainWindowOwner window = CreateMainWindow(instance, &RequestCancel);
  if (!window) {
    WriteLogLine(L"[ERROR] Can't create the main window: " + FormatSystemError(GetLastError()));
    return Finish(graphics, instanceMutex, apartment,
                  L"=== Kestrivon Updater finished (exit code 1) ===", 1);
  }

  std::promise<void> done;
  std::future<void> finished = done.get_future();
  std::jthread worker;
  try {
    worker = std::jthread(WorkerBody, std::move(done), &exitCode, &installDir, &instanceMutex);
  } catch (const std::system_error& error) {
    // No thread, no update: close the window and end like a failed run.
    WriteLogLine(L"[ERROR] Can't start the update worker: " + WideFromUtf8(error.what()));
    DestroyWindow(MainWindowHandle(*window));
  }

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  if (worker.joinable()) {
    if (!WorkerStopped(finished)) {
      WriteLogLine(
          L"[WARN] The worker thread didn't stop within 2 s after cancelling; exiting anyway");
      WriteLogLine(L"");
      ExitProcess(1);
    }
    worker.join();
  }
  const int code = exitCode.load();
  return Finish(graphics, instanceMutex, apartment,
                L"=== Kestrivon Updater finished (exit code " + std::to_wstring(code) + L") ===",
                code);
}

}  // namespace
}  // namespace kestrivon::win

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL: only System32 is searched, never the program's own folder
  // (where a planted gdiplus.dll would wait); the DLLs outside the known-DLLs list are
  // delay-loaded so that this already holds for them.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return kestrivon::core::CallNoThrow(
      "Updater", [instance] { return kestrivon::win::RunProgram(instance); }, 1);
}
