// The window driver against a window of this process that records what reaches it.

#include <windows.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/process_runner.h"

namespace kestrivon::testing {
namespace {

constexpr wchar_t kClass[] = L"Kestrivon_Driver_Test";

// The first message of interest the window received: the message, its key and its point.
struct Received {
  UINT message = 0;
  WPARAM key = 0;
  POINT point{};
};
Received received;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (received.message == 0 &&
      (message == WM_KEYDOWN || message == WM_LBUTTONDOWN || message == WM_CLOSE)) {
    received = {
        message, wParam, {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))}};
  }
  if (message == WM_CLOSE || message == WM_KEYUP || message == WM_LBUTTONUP) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

// Shows a window of kClass on a thread of its own until something ends it; its DPI.
std::future<UINT> ShowWindowUntilDriven(std::thread& thread) {
  auto dpi = std::make_shared<std::promise<UINT>>();
  auto future = dpi->get_future();
  thread = std::thread([dpi] {
    const HWND window = CreateWindowExW(0, kClass, L"driven", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    dpi->set_value(window ? GetDpiForWindow(window) : 0);
    MSG message;
    while (window && GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  });
  return future;
}

TEST(WindowDriver, FindsTheWindowAndDrivesIt) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = RecordingProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClass;
  ASSERT_NE(RegisterClassExW(&windowClass), 0);
  const std::wstring driver = TestExeFolder() + L"\\window_driver.exe";
  const std::wstring prefix = std::wstring(kClass) + L" 10000 ";

  const struct {
    std::wstring action;
    UINT message;
    WPARAM key;
    POINT dips;
  } cases[] = {
      {L"enter", WM_KEYDOWN, VK_RETURN, {}},
      {L"escape", WM_KEYDOWN, VK_ESCAPE, {}},
      {L"click 40 25.5", WM_LBUTTONDOWN, MK_LBUTTON, {40, 26}},
      {L"close", WM_CLOSE, 0, {}},
  };
  for (const auto& c : cases) {
    received = {};
    std::thread shown;
    auto dpi = ShowWindowUntilDriven(shown);
    const UINT windowDpi = dpi.get();
    ASSERT_NE(windowDpi, 0u);
    EXPECT_EQ(RunAndWait(driver, prefix + c.action), 0u) << c.action;
    shown.join();
    EXPECT_EQ(received.message, c.message);
    EXPECT_EQ(received.key, c.key);
    if (c.message == WM_LBUTTONDOWN) {
      EXPECT_EQ(received.point.x, MulDiv(c.dips.x, static_cast<int>(windowDpi), 96));
      EXPECT_NEAR(received.point.y, 25.5 * windowDpi / 96, 0.5);
    }
  }
  EXPECT_EQ(RunAndWait(driver, prefix + L"gone"), 0u);
  EXPECT_EQ(RunAndWait(driver, std::wstring(kClass) + L" 300 find"), 1u);
  EXPECT_EQ(RunAndWait(driver, prefix + L"click 1"), 2u);
  UnregisterClassW(kClass, GetModuleHandleW(nullptr));
}

}  // namespace
}  // namespace kestrivon::testing
