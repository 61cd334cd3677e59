#pragma once

// The state the main window shows and the thread-safe calls through which the update worker
// changes it. The worker never touches a window: these calls lock briefly, change the state
// and ask the GUI thread to repaint (InvalidateRect, PostMessageW); AskConfirmation blocks the
// worker until the GUI thread has run the prompt. None of them throws.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kestrivon::win {

// Private messages of the main window.
inline constexpr UINT WM_CONFIRM_UPDATES = WM_APP + 1;   // lParam: ConfirmRequest*
inline constexpr UINT WM_TASKBAR_PROGRESS = WM_APP + 2;  // push progress to the taskbar

// One line of the update prompt. sizeBytes 0 shows no size.
struct PromptRow {
  std::wstring name;
  std::wstring installedVersion;
  std::wstring newVersion;
  uint64_t sizeBytes = 0;
};

// What AskConfirmation hands the GUI thread with WM_CONFIRM_UPDATES.
struct ConfirmRequest {
  const std::vector<PromptRow>* rows = nullptr;
  bool accepted = false;
};

// What the main window draws; guarded by uiStateMutex.
struct UiState {
  std::wstring statusLine;  // first line of the status text, drawn large
  std::wstring detailLine;  // everything after the first line feed, drawn small
  float progress = 0.0f;    // 0.0 to 1.0
};

// The main window; null before it exists and again once it is destroyed.
extern std::atomic<HWND> mainWindow;
// True once an error message is on screen.
extern std::atomic<bool> errorShown;

extern UiState uiState;
// Held by the painter for a whole paint and by SetStatus / ShowError while they write. No
// window call is made and the log mutex is never taken while it is held.
extern std::mutex uiStateMutex;
// True while the Cancel button is offered.
extern std::atomic<bool> cancelAvailable;

// Any thread. "First line\nDetail"; a negative percent leaves the progress unchanged, above
// 100 counts as 100. Ignored once an error is on screen. Repaints only what changed on
// screen: nothing for a repeated report, the detail line's or the bar's area for a download's.
void SetStatus(const std::wstring& text, int32_t percent) noexcept;

// Any thread. Switches the window to the error view for good and logs the message; does
// nothing after the user cancelled.
void ShowError(const std::wstring& message) noexcept;

// Any thread. Offer or withdraw the Cancel button.
void EnableCancel() noexcept;
void DisableCancel() noexcept;

// Worker thread only (blocks until the GUI thread's prompt has closed). True when the user
// accepted; false without a main window or after a cancel.
bool AskConfirmation(const std::vector<PromptRow>& rows) noexcept;

}  // namespace kestrivon::win
