// The main window's kept picture against a full paint, pixel for pixel: through animation ticks
// (which only move the shard), through the detail line and bar that are renewed in place, and
// through every change that must renew the whole still image.

#include "win/ui/main_window_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <string>

#include "win/ui/paint.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

// The first differing pixel's index, or -1 when the two pictures are equal.
long FirstDifference(Gdiplus::GpBitmap* a, Gdiplus::GpBitmap* b, int width, int height) {
  const Gdiplus::Rect all(0, 0, width, height);
  Gdiplus::BitmapData da{};
  Gdiplus::BitmapData db{};
  if (gdip::GdipBitmapLockBits(a, &all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &da) !=
      Gdiplus::Ok) {
    return 0;
  }
  gdip::GdipBitmapLockBits(b, &all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &db);
  long first = -1;
  for (int y = 0; y < height && first < 0; ++y) {
    const auto* rowA = static_cast<const uint32_t*>(da.Scan0) + y * da.Stride / 4;
    const auto* rowB = static_cast<const uint32_t*>(db.Scan0) + y * db.Stride / 4;
    for (int x = 0; x < width; ++x) {
      if (rowA[x] != rowB[x]) {
        first = static_cast<long>(y) * width + x;
        break;
      }
    }
  }
  gdip::GdipBitmapUnlockBits(a, &da);
  gdip::GdipBitmapUnlockBits(b, &db);
  return first;
}

class MainWindowFrameTest : public ::testing::Test {
 protected:
  void TearDown() override {
    errorShown = false;
    cancelAvailable = false;
    currentUiStrings = &GetUiStrings(UiLanguage::English);
    const std::lock_guard lock(uiStateMutex);
    uiState = {};
  }
};

TEST_F(MainWindowFrameTest, EveryFrameHasThePixelsOfAFullPaint) {
  struct Step {
    const char* what;
    std::function<void()> change;
    float scale = 1;
    MainButtonStates buttons = {};
    uint64_t tick = 0;
  } steps[] = {
      {"first", [] { SetStatus(L"Preparing Kestrivon...", 0); }},
      {"tick", [] {}, 1, {}, 300},
      {"tick, shard out", [] {}, 1, {}, 700},
      {"status", [] { SetStatus(L"Downloading Java\n1.2 / 48.3 MB (2%)", 40); }, 1, {}, 700},
      {"detail only", [] { SetStatus(L"Downloading Java\n1.3 / 48.3 MB (2%)", 40); }, 1, {}, 800},
      {"progress only", [] { SetStatus(L"Downloading Java\n1.3 / 48.3 MB (2%)", 41); }, 1, {}, 900},
      {"long detail",
       [] {
         SetStatus(L"Downloading Java\n" + std::wstring(40, L'W') + L" gyp " +
                       std::wstring(300, L'j') + L" Qg",
                   42);
       },
       1,
       {},
       950},
      {"short detail, empty bar", [] { SetStatus(L"Downloading Java\n9", 1); }, 1, {}, 980},
      {"Cancel", [] { EnableCancel(); }, 1, {}, 1000},
      {"hover", [] {}, 1, {.cancelHover = true}, 1100},
      {"DPI", [] {}, 1.5f, {}, 1200},
      {"tick at 150 %", [] {}, 1.5f, {}, 1300},
      {"detail and bar at 150 %",
       [] { SetStatus(L"Downloading Java\n20.3 / 48.3 MB", 60); },
       1.5f,
       {},
       1300},
      {"DPI 125 %", [] {}, 1.25f, {}, 1350},
      {"detail and bar at 125 %",
       [] { SetStatus(L"Downloading Java\n20.4 / 48.3 MB", 61); },
       1.25f,
       {},
       1400},
      {"language", [] { currentUiStrings = &GetUiStrings(UiLanguage::Russian); }, 1.5f, {}, 1300},
      {"no Cancel", [] { DisableCancel(); }, 1, {}, 200},
      {"error view", [] { ShowError(L"The download failed."); }, 1, {}, 500},
      {"error view, press", [] {}, 1, {.closePressed = true}, 600},
  };
  MainWindowFrame frame;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    const int width = static_cast<int>(kMainClientWidth * step.scale);
    const int height = static_cast<int>(kMainClientHeight * step.scale);
    Gdiplus::GpBitmap* kept = frame.Render(width, height, step.scale, step.buttons, step.tick);
    ASSERT_NE(kept, nullptr);
    const UniqueBitmap full = RenderOffscreen(
        width, height, step.scale,
        [&](Gdiplus::GpGraphics* graphics) { PaintMainWindow(graphics, step.buttons, step.tick); });
    ASSERT_TRUE(full);
    EXPECT_EQ(FirstDifference(kept, full.Get(), width, height), -1);
  }
}

}  // namespace
}  // namespace kestrivon::win
