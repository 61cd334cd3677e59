#pragma once

// Owners for a private GDI+ font collection and its families, and the lookup of a family by
// name. Wine's GDI+ cannot open a family without a regular face (the bold-only "Unbounded")
// by name, so the lookup lists the collection's families and compares their names, which
// works the same on Windows.

#include <windows.h>
// GDI+ needs the COM declarations first.
#include <objidl.h>

#include <gdiplus.h>

#include <string_view>

#include "win/base/unique_handle.h"

namespace kestrivon::win {

namespace handle_traits {

struct GdiplusFontFamily {
  using Value = Gdiplus::GpFontFamily*;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { Gdiplus::DllExports::GdipDeleteFontFamily(value); }
};

struct GdiplusPrivateFontCollection {
  using Value = Gdiplus::GpFontCollection*;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept {
    Gdiplus::DllExports::GdipDeletePrivateFontCollection(&value);
  }
};

}  // namespace handle_traits

// Both must be released while GDI+ still runs.
using UniqueFontFamily = UniqueResource<handle_traits::GdiplusFontFamily>;
using UniquePrivateFontCollection = UniqueResource<handle_traits::GdiplusPrivateFontCollection>;

// Any thread, while GDI+ runs. The family of `collection` whose name equals `name` (ignoring
// letter case, as Windows compares family names), as a clone of its own; empty when there is
// no such family, `collection` is null or GDI+ fails.
UniqueFontFamily FindPrivateFamily(Gdiplus::GpFontCollection* collection,
                                   std::wstring_view name) noexcept;

}  // namespace kestrivon::win
