#pragma once

// The main window's picture kept between paints, so that the window idles cheaply: everything
// but the shard is rendered once into an offscreen image and rendered again only when what it
// shows changes (the state, the button flags, the DPI, the size or the language), and only in
// part when just the detail line or the bar changed. An animation tick restores the logo's
// area from that image and draws the shard over it. The pixels are those of PaintMainWindow.
// GUI thread; GDI+ must be running.

#include <windows.h>

#include <cstdint>
#include <string>

#include "win/ui/graphics_owners.h"
#include "win/ui/layout.h"
#include "win/ui/main_window_paint.h"
#include "win/ui/paint.h"

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
  // What the still image shows but the detail line and the progress bar.
  struct Scene {
    std::wstring statusLine;
    bool errorView = false;
    bool cancel = false;
    MainButtonStates buttons;
    const UiStrings* strings = nullptr;
    int width = 0;
    int height = 0;
    float scale = 0;
    bool operator==(const Scene&) const = default;
  };
  // Everything the still image depends on. A download changes only the detail line and the
  // progress several times a second: in the run view those two are rendered again inside
  // their own rectangles, the rest of the still image is kept.
  struct Key {
    Scene scene;
    std::wstring detailLine;
    float progress = 0;
  };

  // Clears `area` of the still image and runs `painter` in it, clipped to it, then copies that
  // part into the frame.
  bool RenewStillPart(const DipRect& area, const Painter& painter) noexcept;
  // Renews the parts of the still image whose detail line or bar differ from `key`'s (the run
  // view, same scene). False when GDI+ fails: key_ then still differs from `key`.
  bool RenewChangedParts(const Key& key) noexcept;
  bool MakeFrame(int width, int height) noexcept;
  // Copies the still image's pixels in `area` (clipped to the frame) into the frame.
  bool CopyFromStill(PixelRect area) noexcept;

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
