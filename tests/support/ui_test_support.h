#pragma once

// Helpers of the window tests: GDI+ started once for the test process, the process-wide
// window state put back between tests, a message pump and a real main window.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>

#include "win/host/process_state.h"
#include "win/ui/graphics_owners.h"
#include "win/ui/main_window.h"
#include "win/ui/ui_state.h"

namespace kestrivon::testing {

// The test process owns GDI+ for its whole life, as the program entry does.
inline const win::UniqueGdiplusSession gdiplusSession = win::StartGdiplus();

// Sets the shown state directly, as the window calls would leave it.
inline void SetShownState(const std::wstring& status, const std::wstring& detail, float progress) {
  const std::lock_guard lock(win::uiStateMutex);
  win::uiState = {status, detail, progress};
}

// Clears the flags and texts the window calls share, before and after a test. No main window
// may exist across it.
struct ScopedWindowState {
  ScopedWindowState() { Clear(); }
  ~ScopedWindowState() { Clear(); }
  static void Clear() {
    win::errorShown = false;
    win::cancelAvailable = false;
    win::cancelRequested = false;
    SetShownState(L"", L"", 0);
  }
};

// Dispatches this thread's messages (up to `lastMessage`, 0 for all) until `done` or the time
// limit; false on time-out. A quit message is kept in `quitCode` when asked for.
inline bool PumpUntil(const std::function<bool()>& done, int* quitCode = nullptr,
                      std::chrono::milliseconds limit = std::chrono::seconds(10),
                      UINT lastMessage = 0) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, lastMessage, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        if (quitCode != nullptr) *quitCode = static_cast<int>(message.wParam);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

// A real main window for the life of a test, with the shown state reset around it.
class MainWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override { Open(); }
  void TearDown() override { Close(); }
  void Open() {
    ScopedWindowState::Clear();
    window_ = win::CreateMainWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(window_, nullptr);
  }
  // Waits until the window is gone and takes every message left in this thread's queue,
  // including the quit message its destruction posts, so that the next window starts clean.
  void Close() {
    if (IsWindow(window_)) DestroyWindow(window_);
    PumpUntil([] { return win::mainWindow.load() == nullptr; });
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message != WM_QUIT) DispatchMessageW(&message);
    }
  }

  ScopedWindowState state_;
  HWND window_ = nullptr;
};

}  // namespace kestrivon::testing
