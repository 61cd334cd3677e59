#include "win/ui/logo.h"

#include "win/ui/paint.h"

namespace kestrivon::win {

using namespace Gdiplus::DllExports;
using Gdiplus::Ok;

float ShardPhase(uint64_t tickMs) {
  constexpr float kMoveMs = 630.0f;
  const auto t = static_cast<float>(tickMs % 1400);
  if (t < 630.0f) return EaseCubicBezier(0.6f, 0.0f, 0.3f, 1.0f, t / kMoveMs);
  if (t < 770.0f) return 1.0f;
  return 1.0f - EaseCubicBezier(0.6f, 0.0f, 0.3f, 1.0f, (t - 770.0f) / kMoveMs);
}

namespace {

// A polygon point in DIPs.
LogoPoint PlaceLogoPoint(LogoPoint point, float originX, float originY, float scale, float offsetX,
                         float offsetY) {
  return {(point.x - 5.0f + offsetX) * scale + originX,
          (point.y - 10.5f + offsetY) * scale + originY};
}

}  // namespace

void DrawLogo(Gdiplus::GpGraphics* graphics, std::span<const LogoPolygon> polygons, float originX,
              float originY, float scale, float offsetX, float offsetY, bool errorView) noexcept {
  const auto& colours = errorView ? kLogoErrorColors : kLogoRunColors;
  for (const LogoPolygon& polygon : polygons) {
    if (polygon.pointCount < 3 || polygon.pointCount > 4 || polygon.shade < 0 ||
        polygon.shade > 2) {
      continue;
    }
    std::array<Gdiplus::PointF, 4> points;
    for (int i = 0; i < polygon.pointCount; ++i) {
      const LogoPoint placed = PlaceLogoPoint(polygon.points[static_cast<size_t>(i)], originX,
                                              originY, scale, offsetX, offsetY);
      points[static_cast<size_t>(i)] = Gdiplus::PointF(placed.x, placed.y);
    }
    const Gdiplus::ARGB colour = colours[static_cast<size_t>(polygon.shade)];
    if (const UniqueBrush brush = MakeSolidBrush(colour)) {
      GdipFillPolygon(graphics, brush.Get(), points.data(), polygon.pointCount,
                      Gdiplus::FillModeAlternate);
    }
    Gdiplus::GpPen* rawPen = nullptr;
    if (GdipCreatePen1(colour, 0.6f, Gdiplus::UnitWorld, &rawPen) == Ok) {
      const UniquePen pen(rawPen);
      GdipDrawPolygon(graphics, pen.Get(), points.data(), polygon.pointCount);
    }
  }
}

}  // namespace kestrivon::win
