#include "win/ui/layout.h"

#include <algorithm>
#include <cmath>

namespace kestrivon::win {

float ProgressFillWidth(float progress) {
  if (!(progress > 0.01f)) return 0.0f;
  return std::max(kProgressTrackRect.height, std::min(progress, 1.0f) * kProgressTrackRect.width);
}

float ChooseStatusFontSize(const std::function<float(float points)>& measureWidth) {
  float size = 12.0f;
  do {
    if (measureWidth(size) <= kStatusRect.width) return size;
    size -= 0.5f;
  } while (size > 10.0f);
  return size;
}

PixelRect PixelsAround(const DipRect& rect, float scale) {
  return {static_cast<int>(std::floor(rect.x * scale)) - 1,
          static_cast<int>(std::floor(rect.y * scale)) - 1,
          static_cast<int>(std::ceil((rect.x + rect.width) * scale)) + 1,
          static_cast<int>(std::ceil((rect.y + rect.height) * scale)) + 1};
}

PixelPoint CentreInWorkArea(const PixelRect& work, int width, int height) {
  return {work.left + std::max((work.right - width - work.left) / 2, 0),
          work.top + std::max((work.bottom - height - work.top) / 2, 0)};
}

PixelPoint PlacePrompt(const PixelRect& owner, const PixelRect& work, int width, int height) {
  const int x = (owner.left + owner.right - width) / 2;
  const int y = (owner.top + owner.bottom - height) / 2;
  return {std::min(std::max(x, work.left), std::max(work.left, work.right - width)),
          std::min(std::max(y, work.top), std::max(work.top, work.bottom - height))};
}

}  // namespace kestrivon::win
