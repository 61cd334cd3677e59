#pragma once

// The main window: logo, status, progress and Cancel while the update runs; the error view
// with Open log and Close. It lives on the GUI thread; the worker reaches it only through the
// thread-safe calls of ui_state.h.

#include <windows.h>
// The taskbar list interface needs the COM declarations first.
#include <objidl.h>
#include <shobjidl.h>

#include <string>

namespace kestrivon::win {

// GUI thread, once, before the worker starts. Registers the class, creates the window
// centred on the monitor under the mouse, starts the animation, shows "Preparing" and the
// window. Null when CreateWindowExW fails (the caller logs the system error). The window
// owns itself: it goes when it is closed (every way of closing it requests a cancel first).
HWND CreateMainWindow(HINSTANCE instance) noexcept;

// The window procedure of the class "Kestrivon_Main_Frame".
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// GUI thread. Asks the desktop window manager for the dark frame of both windows; refusals
// are ignored.
void ApplyDarkWindowFrame(HWND window) noexcept;

// GUI thread. Logs the user's cancel, requests it and closes `window`.
void CancelUpdate(HWND window) noexcept;

// GUI thread. Logs and opens the install directory's "logs" folder in the shell; a failure
// shows nothing.
void OpenLogFolder() noexcept;

// Null in the program. A test may put a recorder here instead of the shell, whose file
// manager would outlive the test under Wine (and hold its output open).
extern void (*openFolderForTests)(const std::wstring& folder);

// GUI thread. Shows the error state or the current progress on `window`'s taskbar button;
// nothing when `taskbarList` is null.
void RefreshTaskbarProgress(ITaskbarList3* taskbarList, HWND window) noexcept;

}  // namespace kestrivon::win
