#pragma once

// The painter of the main window: logo, status texts, progress bar and buttons.

#include <cstdint>
#include <string>

#include "win/ui/graphics_owners.h"
#include "win/ui/ui_state.h"

namespace kestrivon::win {

// The main window's button interaction flags; GUI thread only.
struct MainButtonStates {
  bool closeHover = false;
  bool closePressed = false;
  bool openLogHover = false;
  bool openLogPressed = false;
  bool cancelHover = false;
  bool cancelPressed = false;
  bool operator==(const MainButtonStates&) const = default;
};

// GUI thread. Draws the run view or the error view (errorShown) of the current UiState,
// holding uiStateMutex from start to end; `tickMs` (milliseconds since system start) sets the
// shard's place in its animation.
void PaintMainWindow(Gdiplus::GpGraphics* graphics, const MainButtonStates& buttons,
                     uint64_t tickMs) noexcept;

// The two layers of that picture. The still one is everything but the shard, for a caller that
// holds uiStateMutex; the shard lies inside the logo's area, which nothing else touches, so
// drawing it over the still layer gives the pixels of PaintMainWindow.
void PaintMainWindowStill(Gdiplus::GpGraphics* graphics, const MainButtonStates& buttons,
                          bool errorView) noexcept;
void DrawShard(Gdiplus::GpGraphics* graphics, uint64_t tickMs, bool errorView) noexcept;

// The status line (shrinking from 12 pt to fit) and the wrapping detail line of `state`.
void DrawStatusTexts(Gdiplus::GpGraphics* graphics, const UiState& state, bool errorView) noexcept;

// The parts of the still layer that a download renews several times a second, each inside
// its own rectangle (kDetailReachRect, kProgressTrackRect), which nothing else touches: the
// detail line alone, and the progress track with its fill.
void DrawDetailLine(Gdiplus::GpGraphics* graphics, const std::wstring& detailLine,
                    bool errorView) noexcept;
void DrawProgressBar(Gdiplus::GpGraphics* graphics, float progress) noexcept;

}  // namespace kestrivon::win
