#include "win/ui/main_window.h"

#include <dwmapi.h>
#include <shellapi.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "core/no_throw.h"
#include "win/base/process_state.h"
#include "win/base/test_seam.h"
#include "win/log/log_file.h"
#include "win/resources/resource_ids.h"
#include "win/ui/graphics_owners.h"
#include "win/ui/layout.h"
#include "win/ui/main_window_frame.h"
#include "win/ui/main_window_paint.h"
#include "win/ui/paint.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"
#include "win/ui/update_prompt.h"
#include "win/ui/window_base.h"

namespace kestrivon::win {
namespace {

constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT kAnimationPeriodMs = 33;

// Announced by the shell once the window's taskbar button exists; registered before the
// entry runs.
const UINT taskbarButtonCreatedMessage = RegisterWindowMessageW(L"TaskbarButtonCreated");

// A mouse position of lParam in DIPs.
struct DipPoint {
  float x;
  float y;
};
DipPoint MouseDips(HWND window, LPARAM lParam) {
  const float scale = DpiScale(window);
  return {static_cast<int16_t>(LOWORD(static_cast<DWORD_PTR>(lParam))) / scale,
          static_cast<int16_t>(HIWORD(static_cast<DWORD_PTR>(lParam))) / scale};
}

}  // namespace

class MainWindow : public WindowBase<MainWindow> {
 public:
  explicit MainWindow(CancelRequest requestCancel) : requestCancel_(requestCancel) {}
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

 private:
  void Repaint() const { InvalidateRect(Window(), nullptr, FALSE); }
  // Logs the user's cancel, requests it and closes the window.
  void CancelUpdate() const noexcept;
  void RequestCancel() const noexcept {
    if (requestCancel_ != nullptr) requestCancel_();
  }
  void OnTimer() const;
  void OnMouseMove(LPARAM lParam);
  void OnButtonDown(LPARAM lParam);
  void OnButtonUp(LPARAM lParam);
  void OnKey(WPARAM key) const;
  void OnTaskbarButtonCreated();

  CancelRequest requestCancel_;
  MainButtonStates buttons_;
  MainWindowFrame frame_;
  UniqueCom<ITaskbarList3> taskbarList_;  // null until the taskbar announces the button
};

void MainWindow::CancelUpdate() const noexcept {
  core::CallNoThrow("Logging the cancel",
                    [] { WriteLogLine(L"[INFO] User cancelled the update"); });
  RequestCancel();
  PostMessageW(Window(), WM_CLOSE, 0, 0);
}

void MainWindow::OnTimer() const {
  const HWND window = Window();
  if (errorShown.load()) {
    KillTimer(window, kAnimationTimer);  // the error view stands still for good
    return;
  }
  if (IsIconic(window)) return;
  const float scale = DpiScale(window);
  const RECT logo{static_cast<LONG>(kLogoRect.x * scale), static_cast<LONG>(kLogoRect.y * scale),
                  static_cast<LONG>((kLogoRect.x + kLogoRect.width) * scale),
                  static_cast<LONG>((kLogoRect.y + kLogoRect.height) * scale)};
  InvalidateRect(window, &logo, FALSE);
}

void MainWindow::OnMouseMove(LPARAM lParam) {
  const auto [x, y] = MouseDips(Window(), lParam);
  const bool error = errorShown.load();
  const bool closeHover = error && Contains(kPrimaryButtonRect, x, y);
  const bool openLogHover = error && Contains(kSecondaryButtonRect, x, y);
  const bool cancelHover = !error && cancelAvailable.load() && Contains(kPrimaryButtonRect, x, y);
  if (closeHover == buttons_.closeHover && openLogHover == buttons_.openLogHover &&
      cancelHover == buttons_.cancelHover) {
    return;
  }
  buttons_.closeHover = closeHover;
  buttons_.openLogHover = openLogHover;
  buttons_.cancelHover = cancelHover;
  Repaint();
}

void MainWindow::OnButtonDown(LPARAM lParam) {
  const auto [x, y] = MouseDips(Window(), lParam);
  if (errorShown.load()) {
    buttons_.closePressed = Contains(kPrimaryButtonRect, x, y);
    buttons_.openLogPressed = Contains(kSecondaryButtonRect, x, y);
  } else if (cancelAvailable.load()) {
    buttons_.cancelPressed = Contains(kPrimaryButtonRect, x, y);
  }
  if (buttons_.closePressed || buttons_.openLogPressed || buttons_.cancelPressed) {
    SetCapture(Window());
    Repaint();
  }
}

void MainWindow::OnButtonUp(LPARAM lParam) {
  const HWND window = Window();
  const auto [x, y] = MouseDips(window, lParam);
  // A button fires only when both the press and the release fall on it.
  const bool close = buttons_.closePressed && Contains(kPrimaryButtonRect, x, y);
  const bool openLog = buttons_.openLogPressed && Contains(kSecondaryButtonRect, x, y);
  const bool cancel =
      buttons_.cancelPressed && cancelAvailable.load() && Contains(kPrimaryButtonRect, x, y);
  if (buttons_.closePressed || buttons_.openLogPressed || buttons_.cancelPressed) {
    buttons_.closePressed = buttons_.openLogPressed = buttons_.cancelPressed = false;
    ReleaseCapture();
    Repaint();
  }
  if (close) PostMessageW(window, WM_CLOSE, 0, 0);
  if (openLog) OpenLogFolder();
  if (cancel) CancelUpdate();
}

void MainWindow::OnKey(WPARAM key) const {
  if (key != VK_ESCAPE && key != VK_RETURN) return;
  if (errorShown.load()) {
    PostMessageW(Window(), WM_CLOSE, 0, 0);
  } else if (key == VK_ESCAPE && cancelAvailable.load()) {
    CancelUpdate();
  }
}

void MainWindow::OnTaskbarButtonCreated() {
  if (!taskbarList_) {
    ITaskbarList3* created = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITaskbarList3, reinterpret_cast<void**>(&created)))) {
      taskbarList_.Reset(created);
    }
  }
  RefreshTaskbarProgress(taskbarList_.Get(), Window());
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  const HWND window = Window();
  if (message == taskbarButtonCreatedMessage && taskbarButtonCreatedMessage != 0) {
    OnTaskbarButtonCreated();
    return 0;
  }
  switch (message) {
    case WM_TASKBAR_PROGRESS:
      RefreshTaskbarProgress(taskbarList_.Get(), window);
      return 0;
    case WM_CONFIRM_UPDATES: {
      auto* request = reinterpret_cast<ConfirmRequest*>(lParam);
      if (request == nullptr || request->rows == nullptr) return 0;
      request->accepted = ShowUpdatePrompt(window, *request->rows);
      return 1;
    }
    case WM_ERASEBKGND:
      return 1;  // the paint covers the whole client area
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      if (const HDC dc = BeginPaint(window, &paint)) {
        frame_.Paint(window, dc, paint.rcPaint, buttons_, GetTickCount64());
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kAnimationTimer) OnTimer();
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(lParam);
      return 0;
    case WM_LBUTTONDOWN:
      OnButtonDown(lParam);
      return 0;
    case WM_LBUTTONUP:
      OnButtonUp(lParam);
      return 0;
    case WM_KEYDOWN:
      OnKey(wParam);
      return 0;
    case WM_DPICHANGED:
      MoveToSuggestedRect(lParam);
      Repaint();
      return 0;
    case WM_CLOSE:
      RequestCancel();
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      KillTimer(window, kAnimationTimer);
      frame_.Reset();
      mainWindow.exchange(nullptr);
      taskbarList_.Reset();
      PostQuitMessage(0);
      return 0;
    default:
      return Default(message, wParam, lParam);
  }
}

void ApplyDarkWindowFrame(HWND window) noexcept {
  // Unsupported attributes (older systems, Wine) leave the system frame.
  const BOOL dark = TRUE;
  DwmSetWindowAttribute(window, 20, &dark, sizeof(dark));
  const COLORREF caption = RGB(9, 11, 22);
  DwmSetWindowAttribute(window, 35, &caption, sizeof(caption));
  const DWORD rounded = 2;
  DwmSetWindowAttribute(window, 33, &rounded, sizeof(rounded));
}

void MainWindowDelete::operator()(MainWindow* window) const noexcept {
  if (window == nullptr) return;
  if (const HWND handle = window->Window()) DestroyWindow(handle);
  delete window;
}

HWND MainWindowHandle(const MainWindow& window) noexcept { return window.Window(); }

MainWindowOwner CreateMainWindow(HINSTANCE instance, CancelRequest requestCancel) noexcept {
  return core::CallNoThrow(
      "Main window creation",
      [&]() -> MainWindowOwner {
        RegisterWindowClass(instance, &WindowBase<MainWindow>::Procedure, kMainWindowClassName);

        POINT cursor{};
        GetCursorPos(&cursor);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& work = monitor.rcWork;

        MainWindowOwner object(new MainWindow(requestCancel));
        const HWND window = CreateWindowExW(
            0, kMainWindowClassName, currentUiStrings->windowTitle, kStyle, work.left, work.top,
            kMainClientWidth, kMainClientHeight, nullptr, nullptr, instance, object.get());
        if (window == nullptr) return nullptr;

        // A DPI that reads 0 counts as 96, so the window never ends up without a size.
        UINT dpi = GetDpiForWindow(window);
        if (dpi == 0) dpi = 96;
        RECT frame{0, 0, MulDiv(kMainClientWidth, static_cast<int>(dpi), 96),
                   MulDiv(kMainClientHeight, static_cast<int>(dpi), 96)};
        AdjustWindowRectExForDpi(&frame, kStyle, FALSE, 0, dpi);
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        const PixelPoint origin =
            CentreInWorkArea({work.left, work.top, work.right, work.bottom}, width, height);
        SetWindowPos(window, nullptr, origin.x, origin.y, width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        ApplyDarkWindowFrame(window);

        mainWindow.exchange(window);
        SetTimer(window, kAnimationTimer, kAnimationPeriodMs, nullptr);
        SetStatus(currentUiStrings->statusPreparing, 0);
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        return object;
      },
      MainWindowOwner());
}

void OpenLogFolder() noexcept {
  core::CallNoThrow("Opening the log folder", [] {
    const std::wstring folder = LogFolder();
    WriteLogLine(L"[INFO] Opening the log folder: " + folder);
    if (testSeam.openFolder != nullptr) {
      testSeam.openFolder(folder);
      return;
    }
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  });
}

void RefreshTaskbarProgress(ITaskbarList3* taskbarList, HWND window) noexcept {
  if (taskbarList == nullptr) return;
  if (errorShown.load()) {
    taskbarList->SetProgressState(window, TBPF_ERROR);
    taskbarList->SetProgressValue(window, 100, 100);
    return;
  }
  float progress = 0;
  {
    const std::lock_guard lock(uiStateMutex);
    progress = uiState.progress;
  }
  taskbarList->SetProgressState(window, progress > 0 ? TBPF_NORMAL : TBPF_NOPROGRESS);
  taskbarList->SetProgressValue(window, static_cast<ULONGLONG>(progress * 100), 100);
}

}  // namespace kestrivon::win
