#pragma once

// The main window's picture kept between paints, so that the window idles cheaply: everything
// but the shard is rendered once into an offscreen image and rendered again only when what it
// shows changes (the state, the button flags, the DPI, the size or the language). An animation
// tick restores the logo's area from that image and draws the shard over it. The pixels are
// those of PaintMainWindow. GUI thread; GDI+ must be running.

#include <windows.h>

#include <cstdint>
#include <string>

#include "win/ui/graphics_owners.h"
#include "win/ui/main_window_paint.h"

namespace kestrivon::win {

struct UiStrings;

class MainWindowFrame {
 public:
  // The whole client area at this moment, width x height pixels at `scale` pixels per DIP;
  // null when GDI+ fails. Stays valid until the next call or Reset.
  Gdiplus::GpBitmap* Render(int width, int height, float scale, const MainButtonStates& buttons,
                            uint64_t tickMs) noexcept;

  // WM_PAINT: renders, then copies the `dirty` part of the client area to `dc`.
  void Paint(HWND window, HDC dc, const RECT& dirty, const MainButtonStates& buttons,
             uint64_t tickMs) noexcept;

  // Releases the images (before GDI+ ends).
  void Reset() noexcept;

 private:
  // Everything the still image depends on.
  struct Key {
    std::wstring statusLine;
    std::wstring detailLine;
    float progress = 0;
    bool errorView = false;
    bool cancel = false;
    MainButtonStates buttons;
    const UiStrings* strings = nullptr;
    int width = 0;
    int height = 0;
    float scale = 0;
    bool operator==(const Key&) const = default;
  };

  bool MakeFrame(int width, int height) noexcept;
  // Copies the still image's pixels in [left, right) x [top, bottom) into the frame.
  bool CopyFromStill(int left, int top, int right, int bottom) noexcept;
  bool RestoreLogoArea() noexcept;

  Key key_;
  UniqueBitmap still_;  // without the shard
  // The frame: the still image with the shard of the last paint, in a DIB section that GDI+
  // draws into and GDI copies to the window from, without any conversion.
  UniqueGdiObject dib_;
  UniqueMemoryDc dc_;   // holds dib_; deleted before it
  UniqueBitmap frame_;  // GDI+'s view of dib_'s pixels
  void* bits_ = nullptr;
  int frameWidth_ = 0;
  int frameHeight_ = 0;
};

}  // namespace kestrivon::win
