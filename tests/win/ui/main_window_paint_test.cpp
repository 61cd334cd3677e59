// Pixels of the main window and of the shared buttons as the real painters render them, at
// the coordinates of the layout: background, progress, buttons, the error view, 150 %.

#include "win/ui/main_window_paint.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/ui_test_support.h"
#include "win/host/process_state.h"
#include "win/ui/paint.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

using testing::Near;
using testing::PixelAt;

constexpr float kTrackMiddle = 141;  // y of the progress bar's middle line
constexpr Gdiplus::ARGB kGemTop = 0xFFB3E5FF;

UniqueBitmap RenderMain(float scale = 1.0f, const MainButtonStates& buttons = {},
                        uint64_t tick = 0) {
  return RenderOffscreen(
      static_cast<int>(std::lround(544 * scale)), static_cast<int>(std::lround(222 * scale)), scale,
      [&](Gdiplus::GpGraphics* graphics) { PaintMainWindow(graphics, buttons, tick); });
}

// The fill's gradient runs from blue to light blue; the track is dark.
bool IsFill(Gdiplus::ARGB colour) { return (colour & 0xFF) > 0xC0; }

// A one-DIP line at y + 0.5 lands on row y or y + 1, depending on how the rasteriser places
// pixel centres (Wine and Windows differ).
bool LineAt(const UniqueBitmap& bitmap, int x, int y, Gdiplus::ARGB colour) {
  return Near(PixelAt(bitmap, x, y), colour, 24) || Near(PixelAt(bitmap, x, y + 1), colour, 24);
}

// Any pixel in the DIP rectangle is near `colour`.
bool AnyPixel(const UniqueBitmap& bitmap, const DipRect& rect, Gdiplus::ARGB colour) {
  for (int y = static_cast<int>(rect.y); y < static_cast<int>(rect.y + rect.height); ++y) {
    for (int x = static_cast<int>(rect.x); x < static_cast<int>(rect.x + rect.width); ++x) {
      if (Near(PixelAt(bitmap, x, y), colour, 40)) return true;
    }
  }
  return false;
}

class MainWindowPaint : public ::testing::Test {
 protected:
  testing::ScopedWindowState state_;
};

TEST_F(MainWindowPaint, BackgroundTrackAndFillAtTheLayoutCoordinatesAndScale) {
  struct Case {
    float progress, scale;
    float fillEnd;  // DIPs; 0 for no fill
  } cases[] = {{0.005f, 1, 0}, {0.011f, 1, 36}, {0.5f, 1, 272}, {1.0f, 1, 514}, {0.5f, 1.5f, 272}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.progress << " at " << c.scale);
    testing::SetShownState(L"Downloading Java...", L"", c.progress);
    const UniqueBitmap bitmap = RenderMain(c.scale);
    ASSERT_TRUE(bitmap);
    const auto at = [&](float x, float y) {
      return PixelAt(bitmap, static_cast<int>(x * c.scale), static_cast<int>(y * c.scale));
    };
    EXPECT_EQ(at(2, 2), kBackgroundColor);
    EXPECT_EQ(at(300, 155), kBackgroundColor);
    EXPECT_EQ(at(300, 130), kBackgroundColor);
    EXPECT_TRUE(Near(at(46, 31), kGemTop));
    EXPECT_EQ(IsFill(at(33, kTrackMiddle)), c.fillEnd > 0);
    if (c.fillEnd == 0) {
      EXPECT_TRUE(Near(at(400, kTrackMiddle), kProgressTrackColor));
      continue;
    }
    EXPECT_TRUE(IsFill(at(c.fillEnd - 3, kTrackMiddle)));
    if (c.fillEnd < 514) {
      EXPECT_TRUE(Near(at(c.fillEnd + 3, kTrackMiddle), kProgressTrackColor));
    }
  }
}

TEST_F(MainWindowPaint, CancelOnlyWhileOfferedInThreePalettesStates) {
  testing::SetShownState(L"Downloading Java...", L"", 0.3f);
  // The top border's middle and a point of the fill clear of the label.
  const auto fill = [](const UniqueBitmap& b) { return PixelAt(b, 420, 171); };

  EXPECT_FALSE(LineAt(RenderMain(), 459, 166, kDarkPalette.border));
  cancelAvailable = true;
  struct Case {
    MainButtonStates buttons;
    Gdiplus::ARGB fill, border;
  } cases[] = {
      {{}, kDarkPalette.fill, kDarkPalette.border},
      {{.cancelHover = true}, kDarkPalette.hoverFill, kDarkPalette.activeBorder},
      {{.cancelHover = true, .cancelPressed = true},
       kDarkPalette.pressedFill,
       kDarkPalette.activeBorder},
  };
  for (const Case& c : cases) {
    const UniqueBitmap bitmap = RenderMain(1.0f, c.buttons);
    EXPECT_TRUE(Near(fill(bitmap), c.fill)) << std::hex << fill(bitmap);
    EXPECT_TRUE(LineAt(bitmap, 459, 166, c.border));
  }
  // The label is drawn (light text in the middle of the button).
  EXPECT_TRUE(AnyPixel(RenderMain(), {430, 176, 58, 16}, kDarkPalette.text));
}

TEST_F(MainWindowPaint, ErrorViewHasAStillGreyLogoRedStatusAndTwoButtons) {
  // While work goes on the shard moves away from its place.
  testing::SetShownState(L"Downloading Java...", L"", 0.5f);
  EXPECT_TRUE(Near(PixelAt(RenderMain(1.0f, {}, 0), 64, 30), kGemTop));
  EXPECT_TRUE(Near(PixelAt(RenderMain(1.0f, {}, 700), 64, 30), kBackgroundColor));

  testing::SetShownState(L"Error", currentUiStrings->errorDownloadFailed, 0);
  errorShown = true;
  const UniqueBitmap error = RenderMain(1.0f, {.closeHover = true}, 0);
  const UniqueBitmap errorLater = RenderMain(1.0f, {.closeHover = true}, 700);
  EXPECT_TRUE(Near(PixelAt(error, 46, 31), 0xFFB9BCCB));
  EXPECT_TRUE(Near(PixelAt(error, 64, 30), 0xFFB9BCCB));
  EXPECT_EQ(PixelAt(errorLater, 64, 30), PixelAt(error, 64, 30));
  EXPECT_TRUE(AnyPixel(error, kStatusRect, kErrorStatusColor)) << "red status line";
  EXPECT_TRUE(AnyPixel(error, {84, 56, 430, 20}, kDetailColor)) << "detail line";
  // No progress bar; Close light (hovered), Open log dark.
  EXPECT_EQ(PixelAt(error, 33, kTrackMiddle), kBackgroundColor);
  EXPECT_TRUE(Near(PixelAt(error, 420, 171), kLightPalette.hoverFill));
  EXPECT_TRUE(LineAt(error, 314, 166, kDarkPalette.border));
  EXPECT_TRUE(Near(PixelAt(error, 250, 171), kDarkPalette.fill));
}

}  // namespace
}  // namespace kestrivon::win
