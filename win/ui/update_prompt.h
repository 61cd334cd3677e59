#pragma once

// The update prompt: a modal window owned by the main window that lists up to eight pending
// updates and asks Cancel or Update. It runs on the GUI thread while the asking worker waits
// in AskConfirmation.

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "win/ui/graphics_owners.h"
#include "win/ui/layout.h"
#include "win/ui/ui_state.h"

namespace kestrivon::win {

// One open prompt's state, on the stack of ShowUpdatePrompt; GUI thread only.
struct PromptState {
  const std::vector<PromptRow>* rows = nullptr;  // the asker's list, only read
  bool accepted = false;
  bool promptCancelHover = false;
  bool promptCancelPressed = false;
  bool promptUpdateHover = false;
  bool promptUpdatePressed = false;
};

inline constexpr int kPromptClientWidth = 624;
inline constexpr size_t kPromptMaxRows = 8;  // rows after the eighth are not shown

// Client height in DIPs for `rowCount` rows.
constexpr int PromptHeight(size_t rowCount) {
  return 196 + 30 * static_cast<int>(rowCount < kPromptMaxRows ? rowCount : kPromptMaxRows);
}
constexpr DipRect PromptCancelRect(int height) {
  return {324, static_cast<float>(height - 64), 130, 38};
}
constexpr DipRect PromptUpdateRect(int height) {
  return {464, static_cast<float>(height - 64), 130, 38};
}

// "1.2.0 → 1.3.0  ·  48.3 MB" (with `unit` after the size in MiB); no size part for 0 bytes.
std::wstring PromptVersionsText(const PromptRow& row, const wchar_t* unit);

// GUI thread. Runs the prompt modally over `owner` (disabled meanwhile) and returns true when
// the user chose Update; true at once for no rows; false when the window cannot be made or a
// quit message arrives (which is posted again for the outer loop).
bool ShowUpdatePrompt(HWND owner, const std::vector<PromptRow>& rows) noexcept;

// The window procedure of the class "Kestrivon_Update_Dialog".
LRESULT CALLBACK UpdatePromptProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// GUI thread. Stores the answer, re-enables the owner and destroys the prompt.
void ClosePrompt(HWND dialog, PromptState& state, bool accepted) noexcept;

// The prompt's painter: heading, intro, the rows and the two buttons.
void PaintUpdatePrompt(Gdiplus::GpGraphics* graphics, const PromptState& state) noexcept;

}  // namespace kestrivon::win
