#include "win/ui/update_prompt.h"

#include <algorithm>

#include <fmt/xchar.h>

#include "core/no_throw.h"
#include "win/resources/resource_ids.h"
#include "win/ui/fonts.h"
#include "win/ui/main_window.h"
#include "win/ui/paint.h"
#include "win/ui/ui_strings.h"
#include "win/ui/window_base.h"

namespace kestrivon::win {
namespace {

using namespace Gdiplus::DllExports;

constexpr wchar_t kClassName[] = L"Kestrivon_Update_Dialog";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

constexpr ARGB kVersionColor = 0xFF7F85B0;
constexpr ARGB kRuleColor = 0xFF1B1F34;

class UpdatePrompt : public WindowBase<UpdatePrompt> {
 public:
  explicit UpdatePrompt(const std::vector<PromptRow>& rows) { state.rows = &rows; }
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  PromptState state;

 private:
  void Repaint() const { InvalidateRect(Window(), nullptr, FALSE); }
  int Height() const { return PromptHeight(state.rows->size()); }
};

LRESULT UpdatePrompt::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  const HWND window = Window();
  const auto mouse = [&] {
    const float scale = DpiScale(window);
    return std::pair(static_cast<int16_t>(LOWORD(static_cast<DWORD_PTR>(lParam))) / scale,
                     static_cast<int16_t>(HIWORD(static_cast<DWORD_PTR>(lParam))) / scale);
  };
  switch (message) {
    case WM_MOUSEMOVE: {
      const auto [x, y] = mouse();
      const bool cancelHover = Contains(PromptCancelRect(Height()), x, y);
      const bool updateHover = Contains(PromptUpdateRect(Height()), x, y);
      if (cancelHover != state.promptCancelHover || updateHover != state.promptUpdateHover) {
        state.promptCancelHover = cancelHover;
        state.promptUpdateHover = updateHover;
        Repaint();
      }
      return 0;
    }
    case WM_LBUTTONDOWN: {
      const auto [x, y] = mouse();
      state.promptCancelPressed = Contains(PromptCancelRect(Height()), x, y);
      state.promptUpdatePressed = Contains(PromptUpdateRect(Height()), x, y);
      if (state.promptCancelPressed || state.promptUpdatePressed) {
        SetCapture(window);
        Repaint();
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      if (!state.promptCancelPressed && !state.promptUpdatePressed) return 0;
      const auto [x, y] = mouse();
      const bool cancel = state.promptCancelPressed && Contains(PromptCancelRect(Height()), x, y);
      const bool update = state.promptUpdatePressed && Contains(PromptUpdateRect(Height()), x, y);
      state.promptCancelPressed = state.promptUpdatePressed = false;
      ReleaseCapture();
      Repaint();
      if (cancel || update) ClosePrompt(window, state, update);
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) ClosePrompt(window, state, true);
      if (wParam == VK_ESCAPE) ClosePrompt(window, state, false);
      return 0;
    case WM_CLOSE:
      ClosePrompt(window, state, false);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      if (const HDC dc = BeginPaint(window, &paint)) {
        core::CallNoThrow("Painting the update prompt", [&] {
          PaintBuffered(window, dc,
                        [&](Gdiplus::GpGraphics* graphics) { PaintUpdatePrompt(graphics, state); });
        });
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DPICHANGED:
      MoveToSuggestedRect(lParam);
      Repaint();
      return 0;
    case WM_NCDESTROY:
      return 0;
    default:
      return Default(message, wParam, lParam);
  }
}

// Registered on the first prompt of the process; a failure is remembered, not retried.
bool RegisterPromptClass() {
  static const bool registered = [] {
    return RegisterWindowClass(GetModuleHandleW(nullptr), &UpdatePromptProc, kClassName) != 0;
  }();
  return registered;
}

// The name column: the widest name plus 16 DIPs, between 141 and 253.8 DIPs.
float PromptNameColumnWidth(float widestName) {
  return std::clamp(widestName + 16.0f, 141.0f, 253.8f);
}

}  // namespace

std::wstring PromptVersionsText(const PromptRow& row, const wchar_t* unit) {
  std::wstring text = row.installedVersion + L" \u2192 " + row.newVersion;
  if (row.sizeBytes != 0) {
    text += L"  \u00B7  ";
    text += fmt::format(L"{:.1f}{}", static_cast<double>(row.sizeBytes) / 1048576.0, unit);
  }
  return text;
}

LRESULT CALLBACK UpdatePromptProc(HWND window, UINT message, WPARAM wParam,
                                  LPARAM lParam) noexcept {
  return WindowBase<UpdatePrompt>::Procedure(window, message, wParam, lParam);
}

void ClosePrompt(HWND dialog, PromptState& state, bool accepted) noexcept {
  state.accepted = accepted;
  // The owner comes back first, so that it gets the activation when the prompt goes.
  EnableWindow(GetWindow(dialog, GW_OWNER), TRUE);
  DestroyWindow(dialog);
}

bool ShowUpdatePrompt(HWND owner, const std::vector<PromptRow>& rows) noexcept {
  if (rows.empty()) return true;
  return core::CallNoThrow(
      "Update prompt",
      [&] {
        if (!RegisterPromptClass()) return false;
        UINT dpi = GetDpiForWindow(owner);
        if (dpi == 0) dpi = 96;
        RECT frame{0, 0, MulDiv(kPromptClientWidth, static_cast<int>(dpi), 96),
                   MulDiv(PromptHeight(rows.size()), static_cast<int>(dpi), 96)};
        AdjustWindowRectExForDpi(&frame, kStyle, FALSE, kExStyle, dpi);
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;

        RECT ownerRect{};
        GetWindowRect(owner, &ownerRect);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
        const RECT& work = monitor.rcWork;
        const PixelPoint origin =
            PlacePrompt({ownerRect.left, ownerRect.top, ownerRect.right, ownerRect.bottom},
                        {work.left, work.top, work.right, work.bottom}, width, height);

        UpdatePrompt prompt(rows);
        const HWND dialog = CreateWindowExW(kExStyle, kClassName, currentUiStrings->windowTitle,
                                            kStyle, origin.x, origin.y, width, height, owner,
                                            nullptr, GetModuleHandleW(nullptr), &prompt);
        if (dialog == nullptr) return false;
        ApplyDarkWindowFrame(dialog);
        EnableWindow(owner, FALSE);
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);

        // Every window of the thread is served, so the main window keeps painting and
        // animating.
        while (prompt.Window() != nullptr) {
          MSG message{};
          const BOOL got = GetMessageW(&message, nullptr, 0, 0);
          if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
          }
          if (got == -1) break;
          TranslateMessage(&message);
          DispatchMessageW(&message);
        }
        EnableWindow(owner, TRUE);
        if (prompt.Window() != nullptr) DestroyWindow(dialog);
        return prompt.state.accepted;
      },
      false);
}

void PaintUpdatePrompt(Gdiplus::GpGraphics* graphics, const PromptState& state) noexcept {
  if (state.rows == nullptr) return;
  const std::vector<PromptRow>& rows = *state.rows;
  const FontSet& fonts = GetFontSet();
  const UniqueFont headingFont = MakeFont(fonts.headingFamily, fonts.headingStyle, 13.0f);
  const UniqueFont bodyFont = MakeFont(fonts.bodyFamily, Gdiplus::FontStyleRegular, 10.0f);
  if (!headingFont || !bodyFont) return;
  core::CallNoThrow("Painting the update prompt", [&] {
    const UiStrings& texts = *currentUiStrings;
    const int height = PromptHeight(rows.size());
    const size_t shown = std::min(rows.size(), kPromptMaxRows);
    const UniqueStringFormat plain =
        MakeStringFormat(false, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear);
    const UniqueStringFormat left =
        MakeStringFormat(false, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
    const UniqueStringFormat right =
        MakeStringFormat(false, Gdiplus::StringAlignmentFar, Gdiplus::StringAlignmentCenter);

    DrawTextIn(graphics, rows.size() == 1 ? texts.promptTitleSingle : texts.promptTitleMultiple,
               headingFont.Get(), plain.Get(), kHeadingColor, {30, 24, 564, 34});
    DrawTextIn(graphics, texts.promptIntro, bodyFont.Get(), plain.Get(), kDetailColor,
               {30, 62, 564, 24});

    float widest = 0;
    for (size_t i = 0; i < shown; ++i) {
      Gdiplus::RectF unbounded(0, 0, 0, 0);
      Gdiplus::RectF bounds;
      if (GdipMeasureString(graphics, rows[i].name.c_str(), -1, bodyFont.Get(), &unbounded,
                            plain.Get(), &bounds, nullptr, nullptr) == Gdiplus::Ok) {
        widest = std::max(widest, bounds.Width);
      }
    }
    const float nameWidth = PromptNameColumnWidth(widest);

    const UniqueBrush rule = MakeSolidBrush(kRuleColor);
    const auto drawRule = [&](float y) {
      if (rule) GdipFillRectangle(graphics, rule.Get(), 30, y, 564, 1);
    };
    drawRule(97);
    for (size_t i = 0; i < shown; ++i) {
      const float y = 98.0f + 30.0f * static_cast<float>(i);
      DrawTextIn(graphics, rows[i].name.c_str(), bodyFont.Get(), left.Get(), kHeadingColor,
                 {30, y, nameWidth, 30});
      const std::wstring versions = PromptVersionsText(rows[i], texts.unitMegabytes);
      DrawTextIn(graphics, versions.c_str(), bodyFont.Get(), right.Get(), kVersionColor,
                 {30 + nameWidth, y, 564 - nameWidth, 30});
      drawRule(y + 29);
    }
    DrawButton(graphics, texts.promptCancel, PromptCancelRect(height), state.promptCancelPressed,
               state.promptCancelHover, kDarkPalette);
    DrawButton(graphics, texts.promptUpdate, PromptUpdateRect(height), state.promptUpdatePressed,
               state.promptUpdateHover, kLightPalette);
  });
}

}  // namespace kestrivon::win
