// Pixels of the main window and of the shared buttons as the real painters render them, at
// the coordinates of the layout: background, progress, buttons, the error view, 150 %.

#include "win/ui/main_window_paint.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/ui_test_support.h"
#include "win/host/process_state.h"
#include "win/ui/fonts.h"
#include "win/ui/paint.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

using testing::Near;
using testing::PixelAt;

constexpr float kTrackMiddle = 141;  // y of the progress bar's middle line

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

// Any pixel in the DIP rectangle satisfies `test`.
template <typename Test>
bool AnyPixel(const UniqueBitmap& bitmap, const DipRect& rect, Test test) {
  for (int y = static_cast<int>(rect.y); y < static_cast<int>(rect.y + rect.height); ++y) {
    for (int x = static_cast<int>(rect.x); x < static_cast<int>(rect.x + rect.width); ++x) {
      if (test(PixelAt(bitmap, x, y))) return true;
    }
  }
  return false;
}

class MainWindowPaint : public ::testing::Test {
 protected:
  testing::ScopedWindowState state_;
};

TEST_F(MainWindowPaint, BackgroundTrackAndFillAtTheLayoutCoordinates) {
  struct Case {
    float progress;
    float fillEnd;  // DIPs; 0 for no fill
  } cases[] = {{0.005f, 0}, {0.011f, 36}, {0.5f, 272}, {1.0f, 514}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.progress);
    testing::SetShownState(L"Downloading Java...", L"", c.progress);
    const UniqueBitmap bitmap = RenderMain();
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PixelAt(bitmap, 2, 2), kBackgroundColor);
    EXPECT_EQ(PixelAt(bitmap, 300, 155), kBackgroundColor);
    EXPECT_EQ(PixelAt(bitmap, 300, 130), kBackgroundColor);
    if (c.fillEnd == 0) {
      EXPECT_TRUE(Near(PixelAt(bitmap, 33, kTrackMiddle), kProgressTrackColor));
      EXPECT_TRUE(Near(PixelAt(bitmap, 400, kTrackMiddle), kProgressTrackColor));
      continue;
    }
    EXPECT_TRUE(IsFill(PixelAt(bitmap, 33, kTrackMiddle)));
    EXPECT_TRUE(IsFill(PixelAt(bitmap, static_cast<int>(c.fillEnd) - 3, kTrackMiddle)));
    if (c.fillEnd < 514) {
      EXPECT_TRUE(Near(PixelAt(bitmap, static_cast<int>(c.fillEnd) + 3, kTrackMiddle),
                       kProgressTrackColor));
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
  EXPECT_TRUE(AnyPixel(RenderMain(), {430, 176, 58, 16},
                       [](Gdiplus::ARGB c) { return Near(c, kDarkPalette.text, 40); }));
}

TEST_F(MainWindowPaint, ErrorViewHasAStillGreyLogoRedStatusAndTwoButtons) {
  testing::SetShownState(L"Downloading Java...", L"", 0.5f);
  const UniqueBitmap runStart = RenderMain(1.0f, {}, 0);
  const UniqueBitmap runOut = RenderMain(1.0f, {}, 700);
  // Gem top facet, and the shard at rest versus fully out.
  EXPECT_TRUE(Near(PixelAt(runStart, 46, 31), 0xFFB3E5FF));
  EXPECT_TRUE(Near(PixelAt(runStart, 64, 30), 0xFFB3E5FF));
  EXPECT_TRUE(Near(PixelAt(runOut, 64, 30), kBackgroundColor));

  testing::SetShownState(L"Error", currentUiStrings->errorDownloadFailed, 0);
  errorShown = true;
  MainButtonStates closeHover;
  closeHover.closeHover = true;
  const UniqueBitmap error = RenderMain(1.0f, closeHover, 0);
  const UniqueBitmap errorLater = RenderMain(1.0f, closeHover, 700);
  EXPECT_TRUE(Near(PixelAt(error, 46, 31), 0xFFB9BCCB));
  EXPECT_TRUE(Near(PixelAt(error, 64, 30), 0xFFB9BCCB));
  EXPECT_EQ(PixelAt(errorLater, 64, 30), PixelAt(error, 64, 30));
  EXPECT_TRUE(AnyPixel(error, kStatusRect, [](Gdiplus::ARGB c) {
    return Near(c, kErrorStatusColor, 40);
  })) << "red status line";
  EXPECT_TRUE(AnyPixel(error, {84, 56, 430, 20}, [](Gdiplus::ARGB c) {
    return Near(c, kDetailColor, 40);
  })) << "detail line";
  // No progress bar; Close light (hovered), Open log dark.
  EXPECT_EQ(PixelAt(error, 33, kTrackMiddle), kBackgroundColor);
  EXPECT_TRUE(Near(PixelAt(error, 420, 171), kLightPalette.hoverFill));
  EXPECT_TRUE(LineAt(error, 314, 166, kDarkPalette.border));
  EXPECT_TRUE(Near(PixelAt(error, 250, 171), kDarkPalette.fill));
}

TEST_F(MainWindowPaint, EverythingScalesAtOneHundredFiftyPercent) {
  testing::SetShownState(L"Downloading Java...", L"", 0.5f);
  cancelAvailable = true;
  const UniqueBitmap bitmap = RenderMain(1.5f);
  ASSERT_TRUE(bitmap);
  UINT width = 0, height = 0;
  Gdiplus::DllExports::GdipGetImageWidth(bitmap.Get(), &width);
  Gdiplus::DllExports::GdipGetImageHeight(bitmap.Get(), &height);
  EXPECT_EQ(width, 816u);
  EXPECT_EQ(height, 333u);
  EXPECT_TRUE(Near(PixelAt(bitmap, 69, 46), 0xFFB3E5FF));             // gem
  EXPECT_TRUE(IsFill(PixelAt(bitmap, 400, 211)));                     // fill to 408
  EXPECT_TRUE(Near(PixelAt(bitmap, 416, 211), kProgressTrackColor));  // track after
  EXPECT_TRUE(LineAt(bitmap, 688, 249, kDarkPalette.border));         // Cancel top
  EXPECT_TRUE(Near(PixelAt(bitmap, 688, 245), kBackgroundColor));     // above it
}

TEST(FontSet, EmbeddedFontsAndTheFallbackRoadBothGiveFonts) {
  // The embedded fonts are linked into the test executable, as into the program.
  const FontSet& embedded = GetFontSet();
  for (const UniqueFontFamily* family :
       {&embedded.headingFamily, &embedded.bodyFamily, &embedded.buttonFamily}) {
    ASSERT_TRUE(*family);
  }
  WCHAR name[LF_FACESIZE] = {};
  Gdiplus::DllExports::GdipGetFamilyName(embedded.headingFamily.Get(), name, LANG_NEUTRAL);
  EXPECT_STREQ(name, L"Unbounded");
  Gdiplus::DllExports::GdipGetFamilyName(embedded.buttonFamily.Get(), name, LANG_NEUTRAL);
  EXPECT_STREQ(name, L"Onest SemiBold");
  EXPECT_TRUE(MakeFont(embedded.headingFamily, embedded.headingStyle, 12));

  // Without embedded fonts every role still makes fonts, from the system; headings bold.
  Gdiplus::GpFontCollection* rawEmpty = nullptr;
  ASSERT_EQ(Gdiplus::DllExports::GdipNewPrivateFontCollection(&rawEmpty), Gdiplus::Ok);
  const UniquePrivateFontCollection empty(rawEmpty);
  for (Gdiplus::GpFontCollection* collection :
       {empty.Get(), static_cast<Gdiplus::GpFontCollection*>(nullptr)}) {
    const FontSet fallback = BuildFontSet(collection);
    EXPECT_TRUE(MakeFont(fallback.headingFamily, fallback.headingStyle, 12));
    EXPECT_TRUE(MakeFont(fallback.bodyFamily, fallback.bodyStyle, 10));
    EXPECT_TRUE(MakeFont(fallback.buttonFamily, fallback.buttonStyle, 9.5f));
    EXPECT_EQ(fallback.headingStyle, Gdiplus::FontStyleBold);
  }
  // A family that cannot make fonts gives none, and drawing with none draws nothing.
  EXPECT_FALSE(MakeFont(UniqueFontFamily(), Gdiplus::FontStyleRegular, 10));
}

}  // namespace
}  // namespace kestrivon::win
