#include "win/ui/main_window_frame.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/no_throw.h"
#include "win/ui/layout.h"
#include "win/ui/paint.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {

using namespace Gdiplus::DllExports;
using Gdiplus::Ok;

bool MainWindowFrame::MakeFrame(int width, int height) noexcept {
  frame_.Reset();
  dc_.Reset();
  dib_.Reset();
  bits_ = nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, as GDI+ lays out its rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  dib_.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  dc_.Reset(CreateCompatibleDC(nullptr));
  if (!dib_ || !dc_ || bits == nullptr || SelectObject(dc_.Get(), dib_.Get()) == nullptr) {
    return false;
  }
  Gdiplus::GpBitmap* view = nullptr;
  if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                static_cast<BYTE*>(bits), &view) != Ok) {
    return false;
  }
  frame_.Reset(view);
  GdipBitmapSetResolution(view, 96.0f, 96.0f);
  bits_ = bits;
  frameWidth_ = width;
  frameHeight_ = height;
  return CopyFromStill({0, 0, width, height});
}

bool MainWindowFrame::CopyFromStill(PixelRect area) noexcept {
  const int left = std::max(area.left, 0);
  const int top = std::max(area.top, 0);
  const int right = std::min(area.right, frameWidth_);
  const int bottom = std::min(area.bottom, frameHeight_);
  if (right <= left || bottom <= top) return true;
  const Gdiplus::Rect pixels(left, top, right - left, bottom - top);
  Gdiplus::BitmapData from{};
  if (GdipBitmapLockBits(still_.Get(), &pixels, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB,
                         &from) != Ok) {
    return false;
  }
  GdiFlush();
  const size_t stride = static_cast<size_t>(frameWidth_) * 4;
  for (UINT row = 0; row < from.Height; ++row) {
    std::memcpy(static_cast<char*>(bits_) + (static_cast<size_t>(top) + row) * stride +
                    static_cast<size_t>(left) * 4,
                static_cast<const char*>(from.Scan0) + static_cast<ptrdiff_t>(row) * from.Stride,
                size_t{from.Width} * 4);
  }
  GdipBitmapUnlockBits(still_.Get(), &from);
  return true;
}

bool MainWindowFrame::RenewStillPart(const DipRect& area, const Painter& painter) noexcept {
  const PixelRect pixels = PixelsAround(area, key_.scene.scale);
  {
    Gdiplus::GpGraphics* rawGraphics = nullptr;
    if (GdipGetImageGraphicsContext(still_.Get(), &rawGraphics) != Ok) return false;
    const UniqueGraphics graphics(rawGraphics);
    // In pixels: the world transform is still the identity.
    GdipSetClipRectI(graphics.Get(), pixels.left, pixels.top, pixels.right - pixels.left,
                     pixels.bottom - pixels.top, Gdiplus::CombineModeReplace);
    GdipGraphicsClear(graphics.Get(), kBackgroundColor);
    PrepareDipGraphics(graphics.Get(), key_.scene.scale);
    painter(graphics.Get());
  }
  return !frame_ || CopyFromStill(pixels);
}

bool MainWindowFrame::RenewChangedParts(const Key& key) noexcept {
  if (key.detailLine != key_.detailLine &&
      !RenewStillPart(kDetailReachRect, [&](Gdiplus::GpGraphics* graphics) {
        DrawDetailLine(graphics, key.detailLine, false);
      })) {
    return false;
  }
  if (ProgressFillWidth(key.progress) != ProgressFillWidth(key_.progress) &&
      !RenewStillPart(kProgressTrackRect, [&](Gdiplus::GpGraphics* graphics) {
        DrawProgressBar(graphics, key.progress);
      })) {
    return false;
  }
  key_.detailLine = key.detailLine;
  key_.progress = key.progress;
  return true;
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
          Key key{{uiState.statusLine, errorShown.load(), cancelAvailable.load(), buttons,
                   currentUiStrings, width, height, scale},
                  uiState.detailLine,
                  uiState.progress};
          // A part that fails to render renews the whole image instead.
          const bool kept = still_ && key.scene == key_.scene &&
                            (key.scene.errorView ? key.detailLine == key_.detailLine &&
                                                       key.progress == key_.progress
                                                 : RenewChangedParts(key));
          if (!kept) {
            still_ = RenderOffscreen(width, height, scale, [&](Gdiplus::GpGraphics* graphics) {
              PaintMainWindowStill(graphics, buttons, key.scene.errorView);
            });
            if (!still_) return nullptr;
            key_ = std::move(key);
            renewed = true;
          }
        }
        if (renewed && frame_ && frameWidth_ == width && frameHeight_ == height) {
          if (!CopyFromStill({0, 0, width, height})) return nullptr;
        } else if (renewed || !frame_) {
          if (!MakeFrame(width, height)) {
            frame_.Reset();
            return nullptr;
          }
        } else if (!CopyFromStill(PixelsAround(kLogoRect, scale))) {
          frame_.Reset();
          return nullptr;
        }
        Gdiplus::GpGraphics* rawGraphics = nullptr;
        if (GdipGetImageGraphicsContext(frame_.Get(), &rawGraphics) != Ok) return nullptr;
        const UniqueGraphics graphics(rawGraphics);
        PrepareDipGraphics(graphics.Get(), scale);
        DrawShard(graphics.Get(), tickMs, key_.scene.errorView);
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
  if (Render(width, height, DpiScale(window), buttons, tickMs) == nullptr) return;
  const int left = std::clamp(static_cast<int>(dirty.left), 0, width);
  const int top = std::clamp(static_cast<int>(dirty.top), 0, height);
  const int right = std::clamp(static_cast<int>(dirty.right), left, width);
  const int bottom = std::clamp(static_cast<int>(dirty.bottom), top, height);
  if (right == left || bottom == top) return;
  // Pixel for pixel (every pixel is opaque), and only what the paint has to renew.
  GdiFlush();
  BitBlt(dc, left, top, right - left, bottom - top, dc_.Get(), left, top, SRCCOPY);
}

void MainWindowFrame::Reset() noexcept {
  frame_.Reset();
  dc_.Reset();
  dib_.Reset();
  bits_ = nullptr;
  still_.Reset();
  key_ = Key{};
}

}  // namespace kestrivon::win
