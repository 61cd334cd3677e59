// Pictures of both windows as the real painters draw them, written as PNG files into the
// folder named by KESTRIVON_UI_SNAPSHOTS for a person to compare with the layout; their pixels
// are checked at the layout's coordinates: background, logo, progress, buttons, the error view.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "win/app/download_status.h"
#include "win/base/process_state.h"
#include "win/ui/main_window_paint.h"
#include "win/ui/paint.h"
#include "win/ui/ui_strings.h"
#include "win/ui/update_prompt.h"

namespace kestrivon::win {
namespace {

// GDI+'s PNG encoder.
constexpr CLSID kPngEncoder = {
    0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
constexpr float kTrackMiddle = 141;  // y of the progress bar's middle line
constexpr Gdiplus::ARGB kGemTop = 0xFFB3E5FF;

Gdiplus::ARGB PixelAt(const UniqueBitmap& bitmap, int x, int y) {
  Gdiplus::ARGB colour = 0;
  Gdiplus::DllExports::GdipBitmapGetPixel(bitmap.Get(), x, y, &colour);
  return colour;
}

// Every channel within `tolerance` (anti-aliasing blends edges).
bool Near(Gdiplus::ARGB a, Gdiplus::ARGB b, int tolerance = 6) {
  for (int shift = 0; shift < 32; shift += 8) {
    const auto channel = [shift](Gdiplus::ARGB c) { return static_cast<int>((c >> shift) & 0xFF); };
    if (std::abs(channel(a) - channel(b)) > tolerance) return false;
  }
  return true;
}

// The fill's gradient runs from blue to light blue; the track is dark.
bool IsFill(Gdiplus::ARGB colour) { return (colour & 0xFF) > 0xC0; }

// A one-DIP line at y + 0.5 lands on row y or y + 1, depending on how the rasteriser places
// pixel centres (Wine and Windows differ).
bool LineAt(const UniqueBitmap& bitmap, int x, int y, Gdiplus::ARGB colour) {
  return Near(PixelAt(bitmap, x, y), colour, 24) || Near(PixelAt(bitmap, x, y + 1), colour, 24);
}

bool AnyPixel(const UniqueBitmap& bitmap, const DipRect& rect, Gdiplus::ARGB colour) {
  for (int y = static_cast<int>(rect.y); y < static_cast<int>(rect.y + rect.height); ++y) {
    for (int x = static_cast<int>(rect.x); x < static_cast<int>(rect.x + rect.width); ++x) {
      if (Near(PixelAt(bitmap, x, y), colour, 40)) return true;
    }
  }
  return false;
}

class UiSnapshotsOwnProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* folder = std::getenv("KESTRIVON_UI_SNAPSHOTS");
    if (folder == nullptr) GTEST_SKIP() << "KESTRIVON_UI_SNAPSHOTS names no folder";
    folder_ = std::filesystem::path("Z:" + std::string(folder));  // Wine's drive for the root
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { Language(UiLanguage::English); }

  // Renders, and saves the picture unless `name` is null.
  UniqueBitmap Render(const wchar_t* name, int width, int height, float scale,
                      const Painter& painter) {
    UniqueBitmap bitmap = RenderOffscreen(width, height, scale, painter);
    if (name == nullptr) return bitmap;
    const std::wstring path = (folder_ / name).wstring();
    const auto saved =
        Gdiplus::DllExports::GdipSaveImageToFile(bitmap.Get(), path.c_str(), &kPngEncoder, nullptr);
    EXPECT_EQ(saved, Gdiplus::Ok) << name;
    return bitmap;
  }
  UniqueBitmap Main(const wchar_t* name, float scale = 1.0f, const MainButtonStates& buttons = {},
                    uint64_t tick = 0) {
    return Render(name, static_cast<int>(544 * scale), static_cast<int>(222 * scale), scale,
                  [&](Gdiplus::GpGraphics* graphics) { PaintMainWindow(graphics, buttons, tick); });
  }
  void Prompt(const wchar_t* name, const std::vector<PromptRow>& rows) {
    const PromptState state{.rows = &rows};
    Render(name, kPromptClientWidth, PromptHeight(rows.size()), 1.0f,
           [&](Gdiplus::GpGraphics* graphics) { PaintUpdatePrompt(graphics, state); });
  }
  static void Language(UiLanguage language) { currentUiStrings = &GetUiStrings(language); }

  std::filesystem::path folder_;
};

TEST_F(UiSnapshotsOwnProcess, MainWindowAndErrorView) {
  // No Cancel, the shard at rest; 700 ms later it is out.
  SetStatus(currentUiStrings->statusPreparing, 0);
  const UniqueBitmap preparing = Main(L"main-preparing.png");
  EXPECT_FALSE(LineAt(preparing, 459, 166, kDarkPalette.border));
  EXPECT_TRUE(Near(PixelAt(preparing, 64, 30), kGemTop));
  EXPECT_TRUE(Near(PixelAt(Main(nullptr, 1.0f, {}, 700), 64, 30), kBackgroundColor));

  cancelAvailable = true;
  // The fill from the track's start to its end point in DIPs (0: none), and Cancel's border.
  struct Case {
    const wchar_t* name;
    UiLanguage language;
    float scale;
    int percent;
    float fillEnd;
  } cases[] = {{L"main-download-45-ru.png", UiLanguage::Russian, 1, 45, 247.8f},
               {nullptr, UiLanguage::English, 1, 1, 0},
               {L"main-150.png", UiLanguage::English, 1.5f, 45, 247.8f},
               {L"main-download-45.png", UiLanguage::English, 1, 45, 247.8f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.percent << " % at " << c.scale);
    Language(c.language);
    // `percent` of a 48.3 MB download, through the real progress text.
    DownloadProgressReporter(currentUiStrings->statusDownloadingJava, 0, 100)(
        static_cast<uint64_t>(c.percent) * 506443, 50644300);
    const UniqueBitmap bitmap = Main(c.name, c.scale);
    const auto at = [&](float x, float y) {
      return PixelAt(bitmap, static_cast<int>(x * c.scale), static_cast<int>(y * c.scale));
    };
    EXPECT_EQ(at(300, 155), kBackgroundColor);
    EXPECT_EQ(at(300, 130), kBackgroundColor);
    EXPECT_TRUE(Near(at(46, 31), kGemTop));
    EXPECT_TRUE(LineAt(bitmap, static_cast<int>(459 * c.scale), static_cast<int>(166 * c.scale),
                       kDarkPalette.border));
    EXPECT_EQ(IsFill(at(33, kTrackMiddle)), c.fillEnd > 0);
    if (c.fillEnd == 0) continue;
    EXPECT_TRUE(IsFill(at(c.fillEnd - 3, kTrackMiddle)));
    EXPECT_TRUE(Near(at(c.fillEnd + 3, kTrackMiddle), kProgressTrackColor));
  }
  // Cancel in its three states: the fill clear of the label and the top border's middle.
  EXPECT_TRUE(AnyPixel(Main(nullptr), {430, 176, 58, 16}, kDarkPalette.text)) << "label";
  struct State {
    const wchar_t* name;
    bool hover, pressed;
    Gdiplus::ARGB fill, border;
  } states[] = {
      {nullptr, false, false, kDarkPalette.fill, kDarkPalette.border},
      {L"main-cancel-hover.png", true, false, kDarkPalette.hoverFill, kDarkPalette.activeBorder},
      {nullptr, true, true, kDarkPalette.pressedFill, kDarkPalette.activeBorder}};
  for (const State& s : states) {
    const UniqueBitmap bitmap =
        Main(s.name, 1, {.cancelHover = s.hover, .cancelPressed = s.pressed});
    EXPECT_TRUE(Near(PixelAt(bitmap, 420, 171), s.fill)) << s.hover << s.pressed;
    EXPECT_TRUE(LineAt(bitmap, 459, 166, s.border)) << s.hover << s.pressed;
  }

  // A status line too long for its width, and a detail line that fills its three lines.
  std::wstring words;
  for (int i = 0; i < 25; ++i) words += L"word" + std::to_wstring(i) + L" ";
  SetStatus(words.substr(0, 110) + L"\n" + words, 60);
  Main(L"main-long-status.png");

  // The error view: a still grey logo, a red status line, the detail, no progress bar, Close
  // light and Open log dark.
  UniqueBitmap error;
  for (const UiLanguage language : {UiLanguage::Russian, UiLanguage::English}) {
    Language(language);
    // The state ShowError leaves, without writing to the process log.
    const UiStrings& t = *currentUiStrings;
    errorShown = false;
    // The longest error text, with a path.
    SetStatus(std::wstring(t.labelError) + L"\n" + t.errorNotEnoughSpace + L"D:\\Games\\Kestrivon",
              0);
    errorShown = true;
    error = Main(language == UiLanguage::English ? L"main-error.png" : L"main-error-ru.png");
  }
  EXPECT_TRUE(Near(PixelAt(error, 46, 31), 0xFFB9BCCB));
  EXPECT_TRUE(Near(PixelAt(error, 64, 30), 0xFFB9BCCB));
  EXPECT_EQ(PixelAt(Main(nullptr, 1.0f, {}, 700), 64, 30), PixelAt(error, 64, 30));
  EXPECT_TRUE(AnyPixel(error, kStatusRect, kErrorStatusColor)) << "red status line";
  EXPECT_TRUE(AnyPixel(error, {84, 56, 430, 20}, kDetailColor)) << "detail line";
  EXPECT_EQ(PixelAt(error, 33, kTrackMiddle), kBackgroundColor);
  EXPECT_TRUE(Near(PixelAt(error, 420, 171), kLightPalette.fill));
  EXPECT_TRUE(LineAt(error, 314, 166, kDarkPalette.border));
  EXPECT_TRUE(Near(PixelAt(error, 250, 171), kDarkPalette.fill));
}

TEST_F(UiSnapshotsOwnProcess, UpdatePrompt) {
  const auto rows = [] {
    const UiStrings& t = *currentUiStrings;
    return std::vector<PromptRow>{{t.componentUpdater, L"1.0.0", L"1.0.1", 3460300},
                                  {t.componentLauncher, L"1.2.0", L"1.3.0", 88080384},
                                  {t.componentJava, t.versionNotInstalled, L"21.0.5", 50644378}};
  };
  Prompt(L"prompt-1.png", {rows()[2]});
  Prompt(L"prompt-3.png", rows());
  std::vector<PromptRow> ten;
  for (int i = 1; i <= 10; ++i) {
    ten.push_back({L"Component " + std::to_wstring(i), L"1.0." + std::to_wstring(i),
                   L"2.0." + std::to_wstring(i), static_cast<uint64_t>(i) * 1048576});
  }
  Prompt(L"prompt-10.png", ten);
  Prompt(L"prompt-long-name.png",
         {{L"A component with a name far too long for the name column of this prompt", L"1.0.0",
           L"1.1.0", 0},
          rows()[2]});
  Language(UiLanguage::Russian);
  Prompt(L"prompt-3-ru.png", rows());
}

}  // namespace
}  // namespace kestrivon::win
