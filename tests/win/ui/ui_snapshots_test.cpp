// Pictures of both windows as the real painters draw them, written as PNG files into the
// folder named by KESTRIVON_UI_SNAPSHOTS for a person to compare with the layout.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ui_test_support.h"
#include "win/host/process_state.h"
#include "win/ui/download_status.h"
#include "win/ui/main_window_paint.h"
#include "win/ui/paint.h"
#include "win/ui/ui_strings.h"
#include "win/ui/update_prompt.h"

namespace kestrivon::win {
namespace {

// GDI+'s PNG encoder.
constexpr CLSID kPngEncoder = {
    0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

class UiSnapshotsOwnProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* folder = std::getenv("KESTRIVON_UI_SNAPSHOTS");
    if (folder == nullptr) GTEST_SKIP() << "KESTRIVON_UI_SNAPSHOTS names no folder";
    // Wine maps the Unix root to drive Z:.
    folder_ = std::filesystem::path(L"Z:" + std::wstring(folder, folder + std::strlen(folder)));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { Language(UiLanguage::English); }

  void Save(const UniqueBitmap& bitmap, const wchar_t* name) {
    ASSERT_TRUE(bitmap);
    const std::wstring path = (folder_ / name).wstring();
    EXPECT_EQ(
        Gdiplus::DllExports::GdipSaveImageToFile(bitmap.Get(), path.c_str(), &kPngEncoder, nullptr),
        Gdiplus::Ok)
        << name;
  }
  void Main(const wchar_t* name, float scale = 1.0f, const MainButtonStates& buttons = {}) {
    Save(RenderOffscreen(
             static_cast<int>(std::lround(544 * scale)), static_cast<int>(std::lround(222 * scale)),
             scale, [&](Gdiplus::GpGraphics* graphics) { PaintMainWindow(graphics, buttons, 0); }),
         name);
  }
  void Prompt(const wchar_t* name, const std::vector<PromptRow>& rows) {
    const PromptState state{.rows = &rows};
    Save(
        RenderOffscreen(kPromptClientWidth, PromptHeight(rows.size()), 1.0f,
                        [&](Gdiplus::GpGraphics* graphics) { PaintUpdatePrompt(graphics, state); }),
        name);
  }
  static void Language(UiLanguage language) { currentUiStrings = &GetUiStrings(language); }

  testing::ScopedWindowState state_;
  std::filesystem::path folder_;
};

TEST_F(UiSnapshotsOwnProcess, MainWindow) {
  SetStatus(currentUiStrings->statusPreparing, 0);
  Main(L"main-preparing.png");

  // 45 % of a 48.3 MB download, through the real progress text.
  const auto download = [] {
    DownloadProgressReporter(currentUiStrings->statusDownloadingJava, 0, 100)(22790000, 50644378);
  };
  cancelAvailable = true;
  Language(UiLanguage::Russian);
  download();
  Main(L"main-download-45-ru.png");
  Language(UiLanguage::English);
  download();
  Main(L"main-download-45.png");
  Main(L"main-cancel-hover.png", 1.0f, {.cancelHover = true});
  Main(L"main-150.png", 1.5f);

  SetStatus(
      L"Downloading the launcher and a great many other things that make this line far "
      L"longer than it may be\nThe detail line wraps onto a second line when it is as long "
      L"as this one, and it ends in an ellipsis when even three lines are not enough "
      L"for all of the words that it holds, which is the case here",
      60);
  Main(L"main-long-status.png");

  // The state ShowError leaves, without writing to the process log.
  for (const UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
    Language(language);
    testing::SetShownState(currentUiStrings->labelError, currentUiStrings->errorDownloadFailed, 0);
    errorShown = true;
    Main(language == UiLanguage::English ? L"main-error.png" : L"main-error-ru.png");
  }
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
