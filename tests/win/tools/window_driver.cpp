// window_driver.exe: drives the program's windows in tests, without an X server.
//   window_driver CLASS TIMEOUT_MS find          wait until a top-level window of CLASS exists
//   window_driver CLASS TIMEOUT_MS enter|escape  ... then send it that key
//   window_driver CLASS TIMEOUT_MS click X Y     ... then a left click at client point (X, Y),
//                                                given in DIPs (scaled by the window's DPI)
//   window_driver CLASS TIMEOUT_MS close         ... then ask it to close (WM_CLOSE)
//   window_driver CLASS TIMEOUT_MS gone          wait until no window of CLASS exists
//   window_driver CLASS TIMEOUT_MS foreground    wait until the foreground window is of CLASS
//   window_driver CLASS TIMEOUT_MS activate      ... then make it the foreground window
// Exit code: 0 done, 1 not found (or, for gone, still there) within the time-out, 2 bad
// usage, 3 the message could not be posted.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kSettleMilliseconds = 200;
constexpr DWORD kPollMilliseconds = 50;
enum ExitCode { kDone = 0, kTimedOut = 1, kUsage = 2, kPostFailed = 3 };

int Usage() {
  std::fwprintf(stderr,
                L"usage: window_driver CLASS TIMEOUT_MS "
                L"find|enter|escape|close|activate|gone|foreground|click X Y\n");
  return kUsage;
}

// Polls until a window of the class is shown (`shown`) or none exists (`!shown`), or the time
// runs out; the last window found. A window is found as soon as it exists, but input is only
// for one that is shown (a prompt drops what arrives while it is still being set up).
bool WaitFor(const wchar_t* windowClass, DWORD timeout, bool shown, HWND& window) {
  const ULONGLONG deadline = GetTickCount64() + timeout;
  while (true) {
    window = FindWindowW(windowClass, nullptr);
    if (shown ? window != nullptr && IsWindowVisible(window) : window == nullptr) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMilliseconds);
  }
}

bool WaitForForeground(const wchar_t* windowClass, DWORD timeout) {
  const ULONGLONG deadline = GetTickCount64() + timeout;
  while (true) {
    wchar_t name[256] = {};
    const HWND window = GetForegroundWindow();
    if (window != nullptr && GetClassNameW(window, name, 256) > 0 &&
        std::wcscmp(name, windowClass) == 0) {
      return true;
    }
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMilliseconds);
  }
}

// The key-down is what a window acts on: one that closes on it (the prompt on Enter) has gone
// before the key-up can be posted, and that is success.
bool PostKey(HWND window, UINT key) {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
  if (!PostMessageW(window, WM_KEYDOWN, key, scan | 1)) return false;
  PostMessageW(window, WM_KEYUP, key, scan | 1 | (LPARAM{3} << 30));
  return true;
}

bool PostClick(HWND window, double xDips, double yDips) {
  UINT dpi = GetDpiForWindow(window);
  if (dpi == 0) dpi = USER_DEFAULT_SCREEN_DPI;
  const double scale = dpi / 96.0;
  const LPARAM point =
      MAKELPARAM(static_cast<int>(xDips * scale + 0.5), static_cast<int>(yDips * scale + 0.5));
  return PostMessageW(window, WM_MOUSEMOVE, 0, point) &&
         PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point) &&
         PostMessageW(window, WM_LBUTTONUP, 0, point);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return Usage();
  const wchar_t* windowClass = argv[1];
  const DWORD timeout = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
  const std::wstring action = argv[3];
  HWND window = nullptr;

  if (action == L"gone") return WaitFor(windowClass, timeout, false, window) ? kDone : kTimedOut;
  if (action == L"foreground") return WaitForForeground(windowClass, timeout) ? kDone : kTimedOut;
  if (action != L"find" && action != L"enter" && action != L"escape" && action != L"close" &&
      action != L"activate" && !(action == L"click" && argc == 6)) {
    return Usage();
  }
  if (!WaitFor(windowClass, timeout, true, window)) {
    std::fwprintf(stderr, L"no window of class %ls within %lu ms\n", windowClass, timeout);
    return kTimedOut;
  }
  bool posted = true;
  if (action != L"find") Sleep(kSettleMilliseconds);
  if (action == L"enter") posted = PostKey(window, VK_RETURN);
  if (action == L"escape") posted = PostKey(window, VK_ESCAPE);
  if (action == L"close") posted = PostMessageW(window, WM_CLOSE, 0, 0);
  if (action == L"activate") posted = SetForegroundWindow(window);
  if (action == L"click") {
    posted = PostClick(window, std::wcstod(argv[4], nullptr), std::wcstod(argv[5], nullptr));
  }
  return posted ? kDone : kPostFailed;
}
