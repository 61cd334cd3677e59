#include "win/ui/fonts.h"

#include "core/no_throw.h"
#include "win/resources/resource_ids.h"

namespace kestrivon::win {

using namespace Gdiplus::DllExports;
using Gdiplus::Ok;

namespace {

UniqueFontFamily SystemFamily(const wchar_t* name) noexcept {
  Gdiplus::GpFontFamily* family = nullptr;
  if (GdipCreateFontFamilyFromName(name, nullptr, &family) != Ok) return {};
  return UniqueFontFamily(family);
}

// "Segoe UI", else the generic sans-serif family; either may be missing (Wine without
// replacement fonts gives a null generic family).
UniqueFontFamily FallbackFamily() noexcept {
  if (UniqueFontFamily segoe = SystemFamily(L"Segoe UI")) return segoe;
  Gdiplus::GpFontFamily* generic = nullptr;
  if (GdipGetGenericFontFamilySansSerif(&generic) != Ok || generic == nullptr) return {};
  // The generic family belongs to GDI+; keep a clone of our own.
  Gdiplus::GpFontFamily* clone = nullptr;
  if (GdipCloneFontFamily(generic, &clone) != Ok) return {};
  return UniqueFontFamily(clone);
}

// The embedded fonts in the order 101, 102, 103; a missing resource is skipped. The font data
// stays in the executable's image, as GDI+ needs it to for the collection's life.
Gdiplus::GpFontCollection* LoadPrivateFonts() noexcept {
  Gdiplus::GpFontCollection* collection = nullptr;
  if (GdipNewPrivateFontCollection(&collection) != Ok) return nullptr;
  for (const int id : {KESTRIVON_IDR_FONT_ONEST_REGULAR, KESTRIVON_IDR_FONT_ONEST_SEMIBOLD,
                       KESTRIVON_IDR_FONT_UNBOUNDED_BOLD}) {
    const HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (resource == nullptr) continue;
    const HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(nullptr, resource);
    if (data == nullptr || size == 0) continue;
    GdipPrivateAddMemoryFont(collection, data, static_cast<INT>(size));
  }
  return collection;
}

}  // namespace

FontSet BuildFontSet(Gdiplus::GpFontCollection* privateFonts) noexcept {
  FontSet set;
  set.headingFamily = FindPrivateFamily(privateFonts, L"Unbounded");
  if (!set.headingFamily) set.headingFamily = FallbackFamily();
  set.headingStyle = Gdiplus::FontStyleBold;

  set.bodyFamily = FindPrivateFamily(privateFonts, L"Onest");
  if (!set.bodyFamily) set.bodyFamily = FallbackFamily();
  set.bodyStyle = Gdiplus::FontStyleRegular;

  set.buttonFamily = FindPrivateFamily(privateFonts, L"Onest SemiBold");
  set.buttonStyle = Gdiplus::FontStyleRegular;
  if (!set.buttonFamily) set.buttonFamily = SystemFamily(L"Segoe UI Semibold");
  if (!set.buttonFamily) {
    set.buttonFamily = FallbackFamily();
    set.buttonStyle = Gdiplus::FontStyleBold;
  }
  return set;
}

const FontSet& GetFontSet() noexcept {
  // Deliberately never destroyed (see the header); an allocation failure leaves an empty set.
  static const FontSet* const set = core::CallNoThrow(
      "Font set", [] { return new FontSet(BuildFontSet(LoadPrivateFonts())); },
      static_cast<FontSet*>(nullptr));
  static const FontSet empty;
  return set != nullptr ? *set : empty;
}

UniqueFont MakeFont(const UniqueFontFamily& family, INT style, float points) noexcept {
  Gdiplus::GpFont* font = nullptr;
  if (!family || GdipCreateFont(family.Get(), points, style, Gdiplus::UnitPoint, &font) != Ok) {
    return {};
  }
  return UniqueFont(font);
}

}  // namespace kestrivon::win
