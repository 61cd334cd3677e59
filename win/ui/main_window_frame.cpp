#include "win/ui/main_window_frame.h"

#include <algorithm>
#include <cmath>
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
  return CopyFromStill(0, 0, width, height);
}

bool MainWindowFrame::CopyFromStill(int left, int top, int right, int bottom) noexcept {
  if (right <= left || bottom <= top) return true;
  const Gdiplus::Rect area(left, top, right - left, bottom - top);
  Gdiplus::BitmapData from{};
  if (GdipBitmapLockBits(still_.Get(), &area, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB,
                         &from) != Ok) {
    return false;
  }
  GdiFlush();
  const size_t stride = static_cast<size_t>(key_.width) * 4;
  for (UINT row = 0; row < from.Height; ++row) {
    std::memcpy(static_cast<char*>(bits_) + (static_cast<size_t>(top) + row) * stride +
                    static_cast<size_t>(left) * 4,
                static_cast<const char*>(from.Scan0) + static_cast<ptrdiff_t>(row) * from.Stride,
                size_t{from.Width} * 4);
  }
  GdipBitmapUnlockBits(still_.Get(), &from);
  return true;
}

bool MainWindowFrame::RestoreLogoArea() noexcept {
  // The logo's area in pixels, a pixel wider on every side for the anti-aliased edges.
  const float scale = key_.scale;
  const int left = std::max(0, static_cast<int>(std::floor(kLogoRect.x * scale)) - 1);
  const int top = std::max(0, static_cast<int>(std::floor(kLogoRect.y * scale)) - 1);
  const int right = std::min(
      key_.width, static_cast<int>(std::ceil((kLogoRect.x + kLogoRect.width) * scale)) + 1);
  const int bottom = std::min(
      key_.height, static_cast<int>(std::ceil((kLogoRect.y + kLogoRect.height) * scale)) + 1);
  return CopyFromStill(left, top, right, bottom);
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
            still_ = RenderOffscreen(width, height, scale, [&](Gdiplus::GpGraphics* graphics) {
              PaintMainWindowStill(graphics, buttons, key.errorView);
            });
            if (!still_) return nullptr;
            key_ = std::move(key);
            renewed = true;
          }
        }
        if (renewed && frame_ && frameWidth_ == width && frameHeight_ == height) {
          if (!CopyFromStill(0, 0, width, height)) return nullptr;
        } else if (renewed || !frame_) {
          if (!MakeFrame(width, height)) {
            frame_.Reset();
            return nullptr;
          }
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
