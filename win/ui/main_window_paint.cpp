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

namespace {

void DrawDetail(Gdiplus::GpGraphics* graphics, const std::wstring& detailLine,
                Gdiplus::GpFont* bodyFont, bool errorView) noexcept {
  const UniqueStringFormat detailFormat =
      MakeStringFormat(true, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear);
  DrawTextIn(graphics, detailLine.c_str(), bodyFont, detailFormat.Get(), kDetailColor,
             errorView ? kErrorDetailRect : kDetailRect);
}

}  // namespace

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

  DrawDetail(graphics, state.detailLine, bodyFont.Get(), errorView);
}

void DrawDetailLine(Gdiplus::GpGraphics* graphics, const std::wstring& detailLine,
                    bool errorView) noexcept {
  const UniqueFont bodyFont = MakeFont(GetFontSet().bodyFamily, Gdiplus::FontStyleRegular, 10.0f);
  if (bodyFont) DrawDetail(graphics, detailLine, bodyFont.Get(), errorView);
}

void DrawProgressBar(Gdiplus::GpGraphics* graphics, float progress) noexcept {
  if (const UniqueBrush track = MakeSolidBrush(kProgressTrackColor)) {
    FillCapsule(graphics, track.Get(), kProgressTrackRect);
  }
  if (const float width = ProgressFillWidth(progress); width > 0) {
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
}

namespace {

// Texts, progress bar and buttons; the caller holds uiStateMutex.
void DrawMainWindowBody(Gdiplus::GpGraphics* graphics, const MainButtonStates& buttons,
                        bool errorView) noexcept {
  DrawStatusTexts(graphics, uiState, errorView);
  const UiStrings& texts = *currentUiStrings;
  if (errorView) {
    DrawButton(graphics, texts.buttonOpenLog, kSecondaryButtonRect, buttons.openLogPressed,
               buttons.openLogHover, kDarkPalette);
    DrawButton(graphics, texts.buttonClose, kPrimaryButtonRect, buttons.closePressed,
               buttons.closeHover, kLightPalette);
    return;
  }
  DrawProgressBar(graphics, uiState.progress);
  if (cancelAvailable.load()) {
    DrawButton(graphics, texts.buttonCancel, kPrimaryButtonRect, buttons.cancelPressed,
               buttons.cancelHover, kDarkPalette);
  }
}

}  // namespace

void DrawShard(Gdiplus::GpGraphics* graphics, uint64_t tickMs, bool errorView) noexcept {
  const float phase = errorView ? 0.0f : ShardPhase(tickMs);
  DrawLogo(graphics, kLogoShard, kLogoOriginX, kLogoOriginY, kLogoScale, kShardTravelX * phase,
           kShardTravelY * phase, errorView);
}

void PaintMainWindowStill(Gdiplus::GpGraphics* graphics, const MainButtonStates& buttons,
                          bool errorView) noexcept {
  DrawLogo(graphics, kLogoGem, kLogoOriginX, kLogoOriginY, kLogoScale, 0, 0, errorView);
  DrawMainWindowBody(graphics, buttons, errorView);
}

void PaintMainWindow(Gdiplus::GpGraphics* graphics, const MainButtonStates& buttons,
                     uint64_t tickMs) noexcept {
  const std::lock_guard lock(uiStateMutex);
  const bool errorView = errorShown.load();
  DrawLogo(graphics, kLogoGem, kLogoOriginX, kLogoOriginY, kLogoScale, 0, 0, errorView);
  DrawShard(graphics, tickMs, errorView);
  DrawMainWindowBody(graphics, buttons, errorView);
}

}  // namespace kestrivon::win
