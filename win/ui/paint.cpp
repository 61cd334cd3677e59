#include "win/ui/paint.h"

#include "core/no_throw.h"
#include "win/ui/fonts.h"

namespace kestrivon::win {

using namespace Gdiplus::DllExports;
using Gdiplus::GpGraphics;
using Gdiplus::Ok;

float DpiScale(HWND window) noexcept {
  if (window == nullptr) return 1.0f;
  const UINT dpi = GetDpiForWindow(window);
  return dpi == 0 ? 1.0f : static_cast<float>(dpi) / 96.0f;
}

UniqueBitmap RenderOffscreen(int width, int height, float scale, const Painter& painter) noexcept {
  if (width <= 0 || height <= 0) return {};
  Gdiplus::GpBitmap* rawBitmap = nullptr;
  if (GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &rawBitmap) !=
      Ok) {
    return {};
  }
  UniqueBitmap bitmap(rawBitmap);
  // Points become pixels at 96 per inch before the DPI scale, as shapes do, whatever the
  // screen's resolution.
  GdipBitmapSetResolution(bitmap.Get(), 96.0f, 96.0f);
  GpGraphics* rawGraphics = nullptr;
  if (GdipGetImageGraphicsContext(bitmap.Get(), &rawGraphics) != Ok) return {};
  const UniqueGraphics graphics(rawGraphics);
  GdipGraphicsClear(graphics.Get(), kBackgroundColor);
  PrepareDipGraphics(graphics.Get(), scale);
  core::CallNoThrow("Painting", [&] { painter(graphics.Get()); });
  return bitmap;
}

void PrepareDipGraphics(GpGraphics* graphics, float scale) noexcept {
  GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeAntiAlias);
  GdipSetTextRenderingHint(graphics, Gdiplus::TextRenderingHintClearTypeGridFit);
  GdipScaleWorldTransform(graphics, scale, scale, Gdiplus::MatrixOrderPrepend);
}

void PaintBuffered(HWND window, HDC dc, const Painter& painter) noexcept {
  RECT client{};
  if (!GetClientRect(window, &client)) return;
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  const UniqueBitmap bitmap = RenderOffscreen(width, height, DpiScale(window), painter);
  if (!bitmap) return;
  GpGraphics* rawTarget = nullptr;
  if (GdipCreateFromHDC(dc, &rawTarget) != Ok) return;
  const UniqueGraphics target(rawTarget);
  // Pixel for pixel, whatever resolution either side claims.
  GdipDrawImageRectI(target.Get(), bitmap.Get(), 0, 0, width, height);
}

float EaseCubicBezier(float x1, float y1, float x2, float y2, float t) {
  float lo = 0.0f;
  float hi = 1.0f;
  for (int i = 0; i < 24; ++i) {
    const float m = (lo + hi) / 2.0f;
    const float x = 3 * (1 - m) * (1 - m) * m * x1 + 3 * (1 - m) * m * m * x2 + m * m * m;
    if (t > x) {
      lo = m;
    } else {
      hi = m;
    }
  }
  const float m = (lo + hi) / 2.0f;
  return 3 * (1 - m) * (1 - m) * m * y1 + 3 * (1 - m) * m * m * y2 + m * m * m;
}

UniqueBrush MakeSolidBrush(ARGB colour) noexcept {
  Gdiplus::GpSolidFill* brush = nullptr;
  if (GdipCreateSolidFill(colour, &brush) != Ok) return {};
  return UniqueBrush(brush);
}

void AddCapsule(Gdiplus::GpPath* path, float x, float y, float width, float height) noexcept {
  GdipAddPathArc(path, x, y, height, height, 90.0f, 180.0f);
  GdipAddPathArc(path, x + width - height, y, height, height, 270.0f, 180.0f);
  GdipClosePathFigure(path);
}

void FillCapsule(GpGraphics* graphics, Gdiplus::GpBrush* brush, const DipRect& rect) noexcept {
  Gdiplus::GpPath* rawPath = nullptr;
  if (brush == nullptr || GdipCreatePath(Gdiplus::FillModeAlternate, &rawPath) != Ok) return;
  const UniquePath path(rawPath);
  AddCapsule(path.Get(), rect.x, rect.y, rect.width, rect.height);
  GdipFillPath(graphics, brush, path.Get());
}

UniqueStringFormat MakeStringFormat(bool wrap, Gdiplus::StringAlignment horizontal,
                                    Gdiplus::StringAlignment vertical) noexcept {
  Gdiplus::GpStringFormat* format = nullptr;
  if (GdipCreateStringFormat(0, LANG_NEUTRAL, &format) != Ok) return {};
  UniqueStringFormat owner(format);
  GdipSetStringFormatFlags(format, wrap ? 0 : Gdiplus::StringFormatFlagsNoWrap);
  GdipSetStringFormatTrimming(format, wrap ? Gdiplus::StringTrimmingEllipsisWord
                                           : Gdiplus::StringTrimmingEllipsisCharacter);
  GdipSetStringFormatAlign(format, horizontal);
  GdipSetStringFormatLineAlign(format, vertical);
  return owner;
}

void DrawTextIn(GpGraphics* graphics, const wchar_t* text, Gdiplus::GpFont* font,
                Gdiplus::GpStringFormat* format, ARGB colour, const DipRect& rect) noexcept {
  const UniqueBrush brush = MakeSolidBrush(colour);
  if (text == nullptr || font == nullptr || format == nullptr || !brush) return;
  const Gdiplus::RectF layout(rect.x, rect.y, rect.width, rect.height);
  GdipDrawString(graphics, text, -1, font, &layout, format, brush.Get());
}

void DrawButton(GpGraphics* graphics, const wchar_t* label, const DipRect& rect, bool pressed,
                bool hover, const ButtonPalette& palette) noexcept {
  const FontSet& fonts = GetFontSet();
  const UniqueFont font = MakeFont(fonts.buttonFamily, fonts.buttonStyle, 9.5f);
  if (!font) return;

  Gdiplus::GpPath* rawPath = nullptr;
  if (GdipCreatePath(Gdiplus::FillModeAlternate, &rawPath) == Ok) {
    const UniquePath outline(rawPath);
    const float left = rect.x + 0.5f;
    const float top = rect.y + 0.5f;
    const float right = left + rect.width - 1.0f;
    const float bottom = top + rect.height - 1.0f;
    constexpr float kArc = 18.0f;
    GdipAddPathArc(outline.Get(), left, top, kArc, kArc, 180.0f, 90.0f);
    GdipAddPathArc(outline.Get(), right - kArc, top, kArc, kArc, 270.0f, 90.0f);
    GdipAddPathArc(outline.Get(), right - kArc, bottom - kArc, kArc, kArc, 0.0f, 90.0f);
    GdipAddPathArc(outline.Get(), left, bottom - kArc, kArc, kArc, 90.0f, 90.0f);
    GdipClosePathFigure(outline.Get());

    const ARGB fill = pressed ? palette.pressedFill : hover ? palette.hoverFill : palette.fill;
    if (const UniqueBrush brush = MakeSolidBrush(fill)) {
      GdipFillPath(graphics, brush.Get(), outline.Get());
    }
    Gdiplus::GpPen* rawPen = nullptr;
    const ARGB border = pressed || hover ? palette.activeBorder : palette.border;
    if (GdipCreatePen1(border, 1.0f, Gdiplus::UnitWorld, &rawPen) == Ok) {
      const UniquePen pen(rawPen);
      GdipDrawPath(graphics, pen.Get(), outline.Get());
    }
  }
  const UniqueStringFormat centred =
      MakeStringFormat(false, Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter);
  DrawTextIn(graphics, label, font.Get(), centred.Get(), palette.text, rect);
}

}  // namespace kestrivon::win
