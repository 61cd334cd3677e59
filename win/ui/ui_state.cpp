#include "win/ui/ui_state.h"

#include <algorithm>

#include "core/no_throw.h"
#include "win/base/process_state.h"
#include "win/log/log_file.h"
#include "win/ui/layout.h"
#include "win/ui/paint.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {

std::atomic<HWND> mainWindow{nullptr};
std::atomic<bool> errorShown{false};
UiState uiState;
std::mutex uiStateMutex;
std::atomic<bool> cancelAvailable{false};

namespace {

void RepaintMainWindow() {
  if (const HWND window = mainWindow.load()) InvalidateRect(window, nullptr, FALSE);
}

void RepaintArea(HWND window, const DipRect& area) {
  const PixelRect pixels = PixelsAround(area, DpiScale(window));
  const RECT rect{pixels.left, pixels.top, pixels.right, pixels.bottom};
  InvalidateRect(window, &rect, FALSE);
}

}  // namespace

void SetStatus(const std::wstring& text, int32_t percent) noexcept {
  if (errorShown.load()) return;
  bool written = false;
  bool statusChanged = false;
  bool detailChanged = false;
  bool barChanged = false;
  bool progressChanged = false;
  core::CallNoThrow("Status update", [&] {
    const size_t lineFeed = text.find(L'\n');
    std::wstring status = text.substr(0, lineFeed);
    std::wstring detail = lineFeed == std::wstring::npos ? L"" : text.substr(lineFeed + 1);
    const std::lock_guard lock(uiStateMutex);
    // An error shown since the check above keeps its text.
    if (errorShown.load()) return;
    written = true;
    statusChanged = status != uiState.statusLine;
    detailChanged = detail != uiState.detailLine;
    uiState.statusLine = std::move(status);
    uiState.detailLine = std::move(detail);
    if (percent >= 0) {
      const float progress = static_cast<float>(std::min(percent, 100)) / 100.0f;
      progressChanged = progress != uiState.progress;
      barChanged = ProgressFillWidth(progress) != ProgressFillWidth(uiState.progress);
      uiState.progress = progress;
    }
  });
  const HWND window = mainWindow.load();
  if (!written || window == nullptr) return;
  // A download reports several times a second: only what changed on screen is repainted.
  if (statusChanged) {
    InvalidateRect(window, nullptr, FALSE);
  } else {
    if (detailChanged) RepaintArea(window, kDetailReachRect);
    if (barChanged) RepaintArea(window, kProgressTrackRect);
  }
  if (progressChanged) PostMessageW(window, WM_TASKBAR_PROGRESS, 0, 0);
}

void ShowError(const std::wstring& message) noexcept {
  if (cancelRequested.load()) return;
  const bool written = core::CallNoThrow("Error view", [&] {
    WriteLogLine(L"[ERROR] " + message);
    std::wstring detail = message;
    const std::lock_guard lock(uiStateMutex);
    uiState.statusLine = currentUiStrings->labelError;
    uiState.detailLine = std::move(detail);
    uiState.progress = 0.0f;
    // Still under the lock, so that no status update slips in between.
    cancelAvailable.exchange(false);
    errorShown.exchange(true);
  });
  if (!written) {
    cancelAvailable.exchange(false);
    errorShown.exchange(true);
  }
  if (const HWND window = mainWindow.load()) {
    InvalidateRect(window, nullptr, FALSE);
    PostMessageW(window, WM_TASKBAR_PROGRESS, 0, 0);
    FlashWindow(window, TRUE);
  }
}

void EnableCancel() noexcept {
  cancelAvailable.exchange(true);
  RepaintMainWindow();
}

void DisableCancel() noexcept {
  cancelAvailable.exchange(false);
  RepaintMainWindow();
}

bool AskConfirmation(const std::vector<PromptRow>& rows) noexcept {
  const HWND window = mainWindow.load();
  if (window == nullptr || cancelRequested.load()) return false;
  ConfirmRequest request{&rows, false};
  const LRESULT handled =
      SendMessageW(window, WM_CONFIRM_UPDATES, 0, reinterpret_cast<LPARAM>(&request));
  return handled != 0 && request.accepted;
}

}  // namespace kestrivon::win
