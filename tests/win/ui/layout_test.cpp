// The window geometry and drawing decisions as plain functions: progress fill, status font
// size, window placement, the prompt's row texts, the logo's motion.

#include "win/ui/layout.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "win/ui/logo.h"
#include "win/ui/paint.h"
#include "win/ui/update_prompt.h"

namespace kestrivon::win {
namespace {

TEST(Layout, ProgressFillStartsAsACircleAndEndsAtTheTrack) {
  struct Case {
    float progress, width;
  } cases[] = {{0.01f, 0}, {0.011f, 6}, {0.0125f, 6.05f}, {0.5f, 242}, {1.5f, 484}, {-1.0f, 0}};
  for (const Case& c : cases) {
    EXPECT_NEAR(ProgressFillWidth(c.progress), c.width, 1e-3) << c.progress;
  }
}

TEST(Layout, StatusFontShrinksByHalfPointsDownToTenWithoutMeasuringTen) {
  struct Case {
    float widthAt12;  // the measured width scales with the size
    float size;
    int measurements;
  } cases[] = {{430, 12, 1}, {440, 11.5f, 2}, {480, 10.5f, 4}, {2000, 10, 4}};
  for (const Case& c : cases) {
    int measurements = 0;
    const float size = ChooseStatusFontSize([&](float points) {
      ++measurements;
      return c.widthAt12 * points / 12.0f;
    });
    EXPECT_EQ(size, c.size) << c.widthAt12;
    EXPECT_EQ(measurements, c.measurements) << c.widthAt12;
  }
}

TEST(Layout, RepaintedPixelsTakeInTheAntiAliasedEdges) {
  struct Case {
    DipRect rect;
    float scale;
    PixelRect pixels;
  } cases[] = {{kLogoRect, 1, {25, 19, 75, 63}}, {kProgressTrackRect, 1.25f, {36, 171, 644, 181}}};
  for (const Case& c : cases) {
    const PixelRect p = PixelsAround(c.rect, c.scale);
    EXPECT_EQ(std::tie(p.left, p.top, p.right, p.bottom),
              std::tie(c.pixels.left, c.pixels.top, c.pixels.right, c.pixels.bottom))
        << c.scale;
  }
}

TEST(Layout, WindowPlacementAndPromptTexts) {
  const auto xy = [](PixelPoint p) { return std::pair(p.x, p.y); };
  // The main window is centred in the work area, but never moved left of or above it.
  const PixelRect work{100, 50, 1100, 850};
  EXPECT_EQ(xy(CentreInWorkArea(work, 560, 261)), std::pair(320, 319));
  EXPECT_EQ(xy(CentreInWorkArea(work, 1200, 900)), std::pair(100, 50));

  // The prompt is centred on its owner, then kept inside the work area; when larger than the
  // work area its top-left corner stays visible.
  struct Case {
    PixelRect owner;
    int width, height, x, y;
  } cases[] = {
      {{300, 300, 860, 561}, 620, 340, 270, 260},   // centred
      {{-400, -300, 160, -39}, 620, 340, 100, 50},  // owner off the top-left
      {{0, 0, 2000, 2000}, 1500, 1000, 100, 50},    // too large
  };
  for (const Case& c : cases) {
    EXPECT_EQ(xy(PlacePrompt(c.owner, work, c.width, c.height)), std::pair(c.x, c.y));
  }
  // The prompt's row texts, with and without a size.
  EXPECT_EQ(PromptVersionsText({L"Java", L"not installed", L"21.0.5", 50644378}, L" MB"),
            L"not installed \u2192 21.0.5  \u00B7  48.3 MB");
  EXPECT_EQ(PromptVersionsText({L"L", L"1.2.0", L"1.3.0", 0}, L" MB"), L"1.2.0 \u2192 1.3.0");
}

TEST(Layout, LogoMotionFollowsTheClock) {
  EXPECT_LT(EaseCubicBezier(0.6f, 0, 0.3f, 1, 0.25f), 0.25f);  // a slow start
  EXPECT_NEAR(EaseCubicBezier(0, 0, 1, 1, 0.3f), 0.3f, 1e-3);  // a straight line
  // Out by 630 ms and resting until 770 ms, in a cycle of 1400 ms that follows the clock.
  for (const uint64_t tick : {630, 769, 1400 * 1000 + 700}) {
    EXPECT_NEAR(ShardPhase(tick), 1, 1e-3) << tick;
  }
  EXPECT_NEAR(ShardPhase(1400), 0, 1e-3);
}

}  // namespace
}  // namespace kestrivon::win
