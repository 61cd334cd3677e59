#pragma once

// The small base both windows share: the window procedure registered with the class stores
// the object passed as creation parameter at WM_NCCREATE and forwards every later message to
// the object's HandleMessage. Messages before WM_NCCREATE, or after WM_NCDESTROY has let go
// of the object, go to DefWindowProcW. HandleMessage sees WM_NCDESTROY after the default
// handling, with Window() already null. GUI thread: the thread that created the window.

#include <windows.h>

#include <utility>

#include "win/resources/resource_ids.h"

namespace kestrivon::win {

template <typename Derived>
class WindowBase {
 public:
  // The window procedure of the class. Derived::HandleMessage must be noexcept.
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam,
                                    LPARAM lParam) noexcept {
    static_assert(noexcept(std::declval<Derived&>().HandleMessage(0u, 0, 0)));
    if (message == WM_NCCREATE) {
      auto* self = static_cast<Derived*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      if (self != nullptr) self->window_ = window;
    }
    auto* self = reinterpret_cast<Derived*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      // The object's last message: it may let itself go here, so nothing touches it after.
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
      self->window_ = nullptr;
      self->HandleMessage(message, wParam, lParam);
      return result;
    }
    return self->HandleMessage(message, wParam, lParam);
  }

  HWND Window() const noexcept { return window_; }

 protected:
  WindowBase() = default;
  ~WindowBase() = default;
  WindowBase(const WindowBase&) = delete;
  WindowBase& operator=(const WindowBase&) = delete;

  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) const noexcept {
    return DefWindowProcW(window_, message, wParam, lParam);
  }

  // WM_DPICHANGED: takes the rectangle the system suggests for the new DPI, without changing
  // the z-order or activating the window.
  void MoveToSuggestedRect(LPARAM lParam) const noexcept {
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
      SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

 private:
  HWND window_ = nullptr;
};

// Registers one of the program's window classes: style 0, the program icon, the arrow cursor,
// no background brush (painting covers the whole client area). 0 on failure.
inline ATOM RegisterWindowClass(HINSTANCE instance, WNDPROC procedure,
                                const wchar_t* name) noexcept {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(KESTRIVON_IDI_APP));
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.lpszClassName = name;
  return RegisterClassExW(&windowClass);
}

}  // namespace kestrivon::win
