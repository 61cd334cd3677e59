#include "win/ui/main_window_paint.h"

#include <limits>
#include <mutex>

#include "win/base/process_state.h"
#include "win/ui/fonts.h"
#include "win/ui/layout.h"
#include "win/ui/logo.h"
#include "win/ui/paint.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {

using namespace Gdiplus::DllExports;
using Gdiplus::Ok;

void DrawStatusTexts(Gdiplus::GpGraphics* graphics, const UiState& state, bool errorView) noexcept {
  const FontSet& fonts = GetFontSet();
  const UniqueFont bodyFont = MakeFont(fonts.bodyFamily, Gdiplus::FontStyleRegular, 10.0f);
  if (!bodyFont) return;
  const UniqueStringFormat statusFormat =
      MakeStringFormat(false, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear);

  UniqueFont statusFont;
  const float size = ChooseStatusFontSize([&](float points) {
    statusFont = MakeFont(fonts.headingFamily, fonts.headingStyle, points);
    Gdiplus::RectF unbounded(0, 0, 0, 0);
    Gdiplus::RectF bounds;
    if (!statusFont ||
        GdipMeasureString(graphics, state.statusLine.c_str(), -1, statusFont.Get(), &unbounded,
                          statusFormat.Get(), &bounds, nullptr, nullptr) != Ok) {
      return std::numeric_limits<float>::infinity();
    }
    return bounds.Width;
  });
  if (size == 10.0f) statusFont = MakeFont(fonts.headingFamily, fonts.headingStyle, size);
  DrawTextIn(graphics, state.statusLine.c_str(), statusFont.Get(), statusFormat.Get(),
             errorView ? kErrorStatusColor : kHeadingColor, kStatusRect);

  const UniqueStringFormat detailFormat =
      MakeStringFormat(true, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear);
  DrawTextIn(graphics, state.detailLine.c_str(), bodyFont.Get(), detailFormat.Get(), kDetailColor,
             errorView ? kErrorDetailRect : kDetailRect);
}

void PaintMainWindow(Gdiplus::GpGraphics* graphics, const MainButtonStates& buttons,
                     uint64_t tickMs) noexcept {
  const std::lock_guard lock(uiStateMutex);
  const bool errorView = errorShown.load();
  DrawLogo(graphics, kLogoGem, kLogoOriginX, kLogoOriginY, kLogoScale, 0, 0, errorView);
  const float phase = errorView ? 0.0f : ShardPhase(tickMs);
  DrawLogo(graphics, kLogoShard, kLogoOriginX, kLogoOriginY, kLogoScale, kShardTravelX * phase,
           kShardTravelY * phase, errorView);
  DrawStatusTexts(graphics, uiState, errorView);

  const UiStrings& texts = *currentUiStrings;
  if (errorView) {
    DrawButton(graphics, texts.buttonOpenLog, kSecondaryButtonRect, buttons.openLogPressed,
               buttons.openLogHover, kDarkPalette);
    DrawButton(graphics, texts.buttonClose, kPrimaryButtonRect, buttons.closePressed,
               buttons.closeHover, kLightPalette);
    return;
  }
  if (const UniqueBrush track = MakeSolidBrush(kProgressTrackColor)) {
    FillCapsule(graphics, track.Get(), kProgressTrackRect);
  }
  if (const float width = ProgressFillWidth(uiState.progress); width > 0) {
    const DipRect fill{kProgressTrackRect.x, kProgressTrackRect.y, width,
                       kProgressTrackRect.height};
    // The gradient spans the filled part only.
    const Gdiplus::PointF from(fill.x - 1.0f, 0.0f);
    const Gdiplus::PointF to(fill.x + 1.0f + width, 0.0f);
    Gdiplus::GpLineGradient* gradient = nullptr;
    if (GdipCreateLineBrush(&from, &to, kProgressLeftColor, kProgressRightColor,
                            Gdiplus::WrapModeTile, &gradient) == Ok) {
      const UniqueBrush brush(gradient);
      FillCapsule(graphics, brush.Get(), fill);
    }
  }
  if (cancelAvailable.load()) {
    DrawButton(graphics, texts.buttonCancel, kPrimaryButtonRect, buttons.cancelPressed,
               buttons.cancelHover, kDarkPalette);
  }
}

}  // namespace kestrivon::win
