#pragma once

// The main window: logo, status, progress and Cancel while the update runs; the error view
// with Open log and Close. It lives on the GUI thread; the worker reaches it only through the
// thread-safe calls of ui_state.h.

#include <windows.h>
// The taskbar list interface needs the COM declarations first.
#include <objidl.h>
#include <shobjidl.h>

#include <memory>
#include <string>

namespace kestrivon::win {

// The class of the main window, by which a second updater finds the first one.
inline constexpr wchar_t kMainWindowClassName[] = L"Kestrivon_Main_Frame";

// The object behind the main window. Its owner (the program entry) keeps it until the message
// loop has ended: the window itself may be gone long before (every way of closing it requests
// a cancel first); destroying the object destroys a window that still exists.
class MainWindow;
struct MainWindowDelete {
  void operator()(MainWindow* window) const noexcept;
};
using MainWindowOwner = std::unique_ptr<MainWindow, MainWindowDelete>;

// Requests the cancel of the run (the downloader's RequestCancel in the program). The window
// calls it, on the GUI thread, whenever it is closed or cancelled.
using CancelRequest = void (*)();

// GUI thread, once, before the worker starts. Registers the class, creates the window
// centred on the monitor under the mouse, starts the animation, shows "Preparing" and the
// window. Null when CreateWindowExW fails (the caller logs the system error).
MainWindowOwner CreateMainWindow(HINSTANCE instance, CancelRequest requestCancel) noexcept;

// The window's handle; null once the window is destroyed.
HWND MainWindowHandle(const MainWindow& window) noexcept;

// GUI thread. Asks the desktop window manager for the dark frame of both windows; refusals
// are ignored.
void ApplyDarkWindowFrame(HWND window) noexcept;

// GUI thread. Logs and opens the install directory's "logs" folder in the shell; a failure
// shows nothing.
void OpenLogFolder() noexcept;

// GUI thread. Shows the error state or the current progress on `window`'s taskbar button;
// nothing when `taskbarList` is null.
void RefreshTaskbarProgress(ITaskbarList3* taskbarList, HWND window) noexcept;

}  // namespace kestrivon::win
