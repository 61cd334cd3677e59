#pragma once

// The geometry of both windows and the decisions that follow from it, as plain functions:
// rectangles in device-independent pixels (DIPs, 96 per inch), hit tests, window placement in
// pixels, the progress fill and the status font size. No window or GDI+ object is touched.

#include <cstddef>
#include <functional>

namespace kestrivon::win {

struct DipRect {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
};

// Edges count as inside.
constexpr bool Contains(const DipRect& rect, float x, float y) {
  return x >= rect.x && x <= rect.x + rect.width && y >= rect.y && y <= rect.y + rect.height;
}

// Main window, client area 544 x 222 DIPs.
inline constexpr int kMainClientWidth = 544;
inline constexpr int kMainClientHeight = 222;
// Cancel in the run view, Close in the error view.
inline constexpr DipRect kPrimaryButtonRect{404, 166, 110, 36};
// Open log in the error view.
inline constexpr DipRect kSecondaryButtonRect{234, 166, 160, 36};
// The only area the animation repaints.
inline constexpr DipRect kLogoRect{26, 20, 48, 42};
inline constexpr DipRect kStatusRect{84, 24, 430, 30};
inline constexpr DipRect kDetailRect{84, 56, 430, 64};
// What the run view's detail line can touch: a wrapped line that starts inside kDetailRect is
// drawn whole (under Wine), so the last one may reach below it, at most down to the track.
inline constexpr DipRect kDetailReachRect{84, 56, 430, 80};
inline constexpr DipRect kErrorDetailRect{84, 56, 430, 96};
inline constexpr DipRect kProgressTrackRect{30, 138, 484, 6};

// Width of the progress fill; 0 means no fill (progress up to 0.01), else at least a circle.
float ProgressFillWidth(float progress);

// The status line's size in points: 12 pt, shrinking by 0.5 pt while `measureWidth` (the
// line's width in DIPs at that size) exceeds the status rectangle; 10 pt without measuring.
float ChooseStatusFontSize(const std::function<float(float points)>& measureWidth);

struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// The pixels that `rect` can touch at `scale` pixels per DIP, anti-aliased edges included:
// rounded outwards and one pixel wider on every side; not clipped to the client area.
PixelRect PixelsAround(const DipRect& rect, float scale);

struct PixelPoint {
  int x = 0;
  int y = 0;
};

// The main window's top-left corner: centred in the work area, never left of or above it.
PixelPoint CentreInWorkArea(const PixelRect& work, int width, int height);

// The update prompt's top-left corner: centred on its owner, then moved into the work area;
// when the prompt is larger than the work area its top-left corner stays visible.
PixelPoint PlacePrompt(const PixelRect& owner, const PixelRect& work, int width, int height);

}  // namespace kestrivon::win
