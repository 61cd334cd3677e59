#include "win/ui/main_window_frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "core/no_throw.h"
#include "win/host/process_state.h"
#include "win/ui/layout.h"
#include "win/ui/paint.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {

using namespace Gdiplus::DllExports;
using Gdiplus::Ok;

bool MainWindowFrame::RestoreLogoArea() noexcept {
  // The logo's area in pixels, a pixel wider on every side for the anti-aliased edges.
  const float scale = key_.scale;
  const int left = std::max(0, static_cast<int>(std::floor(kLogoRect.x * scale)) - 1);
  const int top = std::max(0, static_cast<int>(std::floor(kLogoRect.y * scale)) - 1);
  const int right = std::min(
      key_.width, static_cast<int>(std::ceil((kLogoRect.x + kLogoRect.width) * scale)) + 1);
  const int bottom = std::min(
      key_.height, static_cast<int>(std::ceil((kLogoRect.y + kLogoRect.height) * scale)) + 1);
  if (right <= left || bottom <= top) return true;
  const Gdiplus::Rect area(left, top, right - left, bottom - top);
  Gdiplus::BitmapData from{};
  Gdiplus::BitmapData to{};
  if (GdipBitmapLockBits(still_.Get(), &area, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB,
                         &from) != Ok) {
    return false;
  }
  bool copied = false;
  if (GdipBitmapLockBits(frame_.Get(), &area, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB,
                         &to) == Ok) {
    for (UINT row = 0; row < from.Height; ++row) {
      std::memcpy(static_cast<char*>(to.Scan0) + static_cast<ptrdiff_t>(row) * to.Stride,
                  static_cast<const char*>(from.Scan0) + static_cast<ptrdiff_t>(row) * from.Stride,
                  size_t{from.Width} * 4);
    }
    copied = GdipBitmapUnlockBits(frame_.Get(), &to) == Ok;
  }
  GdipBitmapUnlockBits(still_.Get(), &from);
  return copied;
}

Gdiplus::GpBitmap* MainWindowFrame::Render(int width, int height, float scale,
                                           const MainButtonStates& buttons,
                                           uint64_t tickMs) noexcept {
  return core::CallNoThrow(
      "Painting the main window",
      [&]() -> Gdiplus::GpBitmap* {
        bool renewed = false;
        {
          const std::lock_guard lock(uiStateMutex);
          Key key{uiState.statusLine,
                  uiState.detailLine,
                  uiState.progress,
                  errorShown.load(),
                  cancelAvailable.load(),
                  buttons,
                  currentUiStrings,
                  width,
                  height,
                  scale};
          if (!still_ || key != key_) {
            frame_.Reset();
            still_ = RenderOffscreen(width, height, scale, [&](Gdiplus::GpGraphics* graphics) {
              PaintMainWindowStill(graphics, buttons, key.errorView);
            });
            if (!still_) return nullptr;
            key_ = std::move(key);
            renewed = true;
          }
        }
        if (renewed || !frame_) {
          Gdiplus::GpBitmap* copy = nullptr;
          if (GdipCloneBitmapAreaI(0, 0, width, height, PixelFormat32bppARGB, still_.Get(),
                                   &copy) != Ok) {
            return nullptr;
          }
          frame_ = UniqueBitmap(copy);
          GdipBitmapSetResolution(copy, 96.0f, 96.0f);
        } else if (!RestoreLogoArea()) {
          frame_.Reset();
          return nullptr;
        }
        Gdiplus::GpGraphics* rawGraphics = nullptr;
        if (GdipGetImageGraphicsContext(frame_.Get(), &rawGraphics) != Ok) return nullptr;
        const UniqueGraphics graphics(rawGraphics);
        PrepareDipGraphics(graphics.Get(), scale);
        DrawShard(graphics.Get(), tickMs, key_.errorView);
        return frame_.Get();
      },
      static_cast<Gdiplus::GpBitmap*>(nullptr));
}

void MainWindowFrame::Paint(HWND window, HDC dc, const RECT& dirty, const MainButtonStates& buttons,
                            uint64_t tickMs) noexcept {
  RECT client{};
  if (!GetClientRect(window, &client)) return;
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  Gdiplus::GpBitmap* picture = Render(width, height, DpiScale(window), buttons, tickMs);
  if (picture == nullptr) return;
  const int left = std::clamp(static_cast<int>(dirty.left), 0, width);
  const int top = std::clamp(static_cast<int>(dirty.top), 0, height);
  const int right = std::clamp(static_cast<int>(dirty.right), left, width);
  const int bottom = std::clamp(static_cast<int>(dirty.bottom), top, height);
  if (right == left || bottom == top) return;
  Gdiplus::GpGraphics* rawTarget = nullptr;
  if (GdipCreateFromHDC(dc, &rawTarget) != Ok) return;
  const UniqueGraphics target(rawTarget);
  // Pixel for pixel, and only what the paint has to renew.
  GdipDrawImageRectRectI(target.Get(), picture, left, top, right - left, bottom - top, left, top,
                         right - left, bottom - top, Gdiplus::UnitPixel, nullptr, nullptr, nullptr);
}

void MainWindowFrame::Reset() noexcept {
  frame_.Reset();
  still_.Reset();
  key_ = Key{};
}

}  // namespace kestrivon::win
