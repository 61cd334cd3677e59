#pragma once

// Owners of the window code's GDI+ objects, of the GDI+ session and of COM interface
// pointers, on the one owner template. Every GDI+ object must be released while GDI+ still
// runs: paints release theirs before they return.

#include <windows.h>
// GDI+ needs the COM declarations first.
#include <objidl.h>

#include <gdiplus.h>

#include "win/base/unique_handle.h"

namespace kestrivon::win {

namespace handle_traits {

// A GDI+ object released by `Delete`, which may take a base type (an image for a bitmap).
template <typename Object, auto Delete>
struct GdiplusObject {
  using Value = Object*;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { Delete(value); }
};

// The token of a started GDI+; closing it shuts GDI+ down.
struct GdiplusSession {
  using Value = ULONG_PTR;
  static Value Invalid() noexcept { return 0; }
  static bool IsValid(Value value) noexcept { return value != 0; }
  static void Close(Value value) noexcept { Gdiplus::GdiplusShutdown(value); }
};

template <typename Interface>
struct ComPointer {
  using Value = Interface*;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { value->Release(); }
};

}  // namespace handle_traits

namespace gdip = Gdiplus::DllExports;

using UniqueGraphics =
    UniqueResource<handle_traits::GdiplusObject<Gdiplus::GpGraphics, &gdip::GdipDeleteGraphics>>;
using UniqueBitmap =
    UniqueResource<handle_traits::GdiplusObject<Gdiplus::GpBitmap, &gdip::GdipDisposeImage>>;
using UniqueBrush =
    UniqueResource<handle_traits::GdiplusObject<Gdiplus::GpBrush, &gdip::GdipDeleteBrush>>;
using UniquePen =
    UniqueResource<handle_traits::GdiplusObject<Gdiplus::GpPen, &gdip::GdipDeletePen>>;
using UniquePath =
    UniqueResource<handle_traits::GdiplusObject<Gdiplus::GpPath, &gdip::GdipDeletePath>>;
using UniqueFont =
    UniqueResource<handle_traits::GdiplusObject<Gdiplus::GpFont, &gdip::GdipDeleteFont>>;
using UniqueStringFormat = UniqueResource<
    handle_traits::GdiplusObject<Gdiplus::GpStringFormat, &gdip::GdipDeleteStringFormat>>;
using UniqueGdiplusSession = UniqueResource<handle_traits::GdiplusSession>;
template <typename Interface>
using UniqueCom = UniqueResource<handle_traits::ComPointer<Interface>>;

// Starts GDI+ version 1 for the process; empty when it cannot start. Whoever owns the process
// (the program entry, a test environment) holds the session until every window is gone.
inline UniqueGdiplusSession StartGdiplus() noexcept {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return {};
  return UniqueGdiplusSession(token);
}

}  // namespace kestrivon::win
