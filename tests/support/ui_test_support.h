#pragma once

// Helpers of the window tests: GDI+ started once for the test process, and the process-wide
// window state put back between tests.

#include <windows.h>

#include <mutex>
#include <string>

#include "win/host/process_state.h"
#include "win/ui/graphics_owners.h"
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

}  // namespace kestrivon::testing
