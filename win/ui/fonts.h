#pragma once

// The three font roles of both windows: heading, body and button. The embedded fonts
// (resources 101-103) are loaded into one private collection; whatever is missing falls back
// to the system's "Segoe UI" or the generic sans-serif family, and the layout stays the same.

#include "win/ui/font_collection.h"
#include "win/ui/graphics_owners.h"

namespace kestrivon::win {

struct FontSet {
  UniqueFontFamily headingFamily;  // may be empty: no font of that role can be made
  INT headingStyle = Gdiplus::FontStyleBold;
  UniqueFontFamily bodyFamily;
  INT bodyStyle = Gdiplus::FontStyleRegular;
  UniqueFontFamily buttonFamily;
  INT buttonStyle = Gdiplus::FontStyleRegular;
};

// Any thread, while GDI+ runs. The roles from `privateFonts` (null or empty is allowed),
// else from the system.
FontSet BuildFontSet(Gdiplus::GpFontCollection* privateFonts) noexcept;

// Any thread. The process-wide set, built on first use from the embedded fonts (thread-safe).
// It and the private collection are kept to the end of the process and never released:
// GDI+ is shut down before static objects are destroyed.
const FontSet& GetFontSet() noexcept;

// A font of `family` at `points` (GDI+ point unit); empty when `family` is empty or GDI+
// refuses.
UniqueFont MakeFont(const UniqueFontFamily& family, INT style, float points) noexcept;

}  // namespace kestrivon::win
