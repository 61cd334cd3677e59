// The window driver finds a window of this process by its class and closes it.

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/process_runner.h"

namespace kestrivon::testing {
namespace {

constexpr wchar_t kClass[] = L"Kestrivon_Driver_Test";

TEST(WindowDriver, FindsAWindowByClassAndClosesIt) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
  };
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClass;
  ASSERT_NE(RegisterClassExW(&windowClass), 0);
  std::atomic<bool> closed = false;
  std::thread shown([&] {
    CreateWindowExW(0, kClass, L"driven", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                    nullptr, GetModuleHandleW(nullptr), nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    closed = true;
  });
  const std::wstring driver = TestExeFolder() + L"\\window_driver.exe";
  EXPECT_EQ(RunAndWait(driver, std::wstring(kClass) + L" 10000 close"), 0u);
  shown.join();
  EXPECT_TRUE(closed);
  EXPECT_EQ(RunAndWait(driver, std::wstring(kClass) + L" 200 find"), 1u);
  UnregisterClassW(kClass, GetModuleHandleW(nullptr));
}

}  // namespace
}  // namespace kestrivon::testing
