#pragma once

// The drawing shared by both windows: the double-buffered paint, the DPI scale, colours and
// button palettes, capsules, rounded buttons and the easing curve of the logo animation.
// Every paint creates and releases its own GDI+ objects. GUI thread, except where noted;
// GDI+ must be running.

#include <windows.h>

#include <functional>

#include "win/ui/graphics_owners.h"
#include "win/ui/layout.h"

namespace kestrivon::win {

using Gdiplus::ARGB;

inline constexpr ARGB kBackgroundColor = 0xFF090B16;
inline constexpr ARGB kHeadingColor = 0xFFEEF0FF;  // status line, prompt heading, row names
inline constexpr ARGB kErrorStatusColor = 0xFFFF6B6B;
inline constexpr ARGB kDetailColor = 0xFFA9AED2;  // detail line, prompt intro
inline constexpr ARGB kProgressTrackColor = 0xFF12162E;
inline constexpr ARGB kProgressLeftColor = 0xFF6D8DFF;
inline constexpr ARGB kProgressRightColor = 0xFFB3E5FF;

struct ButtonPalette {
  ARGB fill;
  ARGB hoverFill;
  ARGB pressedFill;
  ARGB border;
  ARGB activeBorder;  // hover or pressed
  ARGB text;
};

inline constexpr ButtonPalette kDarkPalette{0xFF090B16, 0xFF12162E, 0xFF0D1022,
                                            0xFF1B1F34, 0xFF313F73, 0xFFEEF0FF};
inline constexpr ButtonPalette kLightPalette{0xFFB3E5FF, 0xFFCDEEFF, 0xFF9DD3F2,
                                             0xFFB3E5FF, 0xFFCDEEFF, 0xFF0A1030};

// Draws on a graphics object whose world unit is one DIP.
using Painter = std::function<void(Gdiplus::GpGraphics* graphics)>;

// Any thread. The window's DPI / 96, or 1.0 for a null window or a DPI that reads 0.
float DpiScale(HWND window) noexcept;

// A 32-bit ARGB bitmap of width x height pixels with the background filled and `painter`
// run at `scale` pixels per DIP; empty when GDI+ cannot make it. Both windows paint through
// it, and tests use it to look at the pixels.
UniqueBitmap RenderOffscreen(int width, int height, float scale, const Painter& painter) noexcept;

// Sets up a graphics object on an offscreen bitmap as RenderOffscreen does for its painter:
// anti-aliased shapes, ClearType text, one world unit per DIP at `scale` pixels.
void PrepareDipGraphics(Gdiplus::GpGraphics* graphics, float scale) noexcept;

// The paint routine of both windows: renders the client area offscreen and copies it to
// `dc` in one operation.
void PaintBuffered(HWND window, HDC dc, const Painter& painter) noexcept;

// The cubic Bezier timing curve through (0, 0) and (1, 1) with control points (x1, y1) and
// (x2, y2), at t in [0, 1]. Pure.
float EaseCubicBezier(float x1, float y1, float x2, float y2, float t);

UniqueBrush MakeSolidBrush(ARGB colour) noexcept;

// Adds a closed capsule outline (semicircular ends); with width equal to height a circle.
void AddCapsule(Gdiplus::GpPath* path, float x, float y, float width, float height) noexcept;

// Fills a capsule with `brush`; nothing when GDI+ fails.
void FillCapsule(Gdiplus::GpGraphics* graphics, Gdiplus::GpBrush* brush,
                 const DipRect& rect) noexcept;

// A rounded button with its label centred; nothing when the button font cannot be made.
void DrawButton(Gdiplus::GpGraphics* graphics, const wchar_t* label, const DipRect& rect,
                bool pressed, bool hover, const ButtonPalette& palette) noexcept;

// String formats: single line with an ellipsis at a character boundary, or wrapping with an
// ellipsis at a word boundary; aligned as asked.
UniqueStringFormat MakeStringFormat(bool wrap, Gdiplus::StringAlignment horizontal,
                                    Gdiplus::StringAlignment vertical) noexcept;

// Draws `text` into `rect`; nothing when any object is missing.
void DrawTextIn(Gdiplus::GpGraphics* graphics, const wchar_t* text, Gdiplus::GpFont* font,
                Gdiplus::GpStringFormat* format, ARGB colour, const DipRect& rect) noexcept;

}  // namespace kestrivon::win
