#include "win/ui/font_collection.h"

#include <vector>

#include "core/no_throw.h"

namespace kestrivon::win {

UniqueFontFamily FindPrivateFamily(Gdiplus::GpFontCollection* collection,
                                   std::wstring_view name) noexcept {
  using namespace Gdiplus::DllExports;
  if (collection == nullptr) return {};
  return core::CallNoThrow(
      "Font family lookup",
      [&] {
        INT count = 0;
        if (GdipGetFontCollectionFamilyCount(collection, &count) != Gdiplus::Ok || count <= 0) {
          return UniqueFontFamily();
        }
        // The listed families stay the collection's; only the match is cloned.
        std::vector<Gdiplus::GpFontFamily*> families(static_cast<size_t>(count), nullptr);
        INT found = 0;
        if (GdipGetFontCollectionFamilyList(collection, count, families.data(), &found) !=
            Gdiplus::Ok) {
          return UniqueFontFamily();
        }
        for (INT i = 0; i < found && i < count; ++i) {
          WCHAR familyName[LF_FACESIZE] = {};
          Gdiplus::GpFontFamily* const family = families[static_cast<size_t>(i)];
          if (family == nullptr ||
              GdipGetFamilyName(family, familyName, LANG_NEUTRAL) != Gdiplus::Ok) {
            continue;
          }
          if (CompareStringOrdinal(familyName, -1, name.data(), static_cast<int>(name.size()),
                                   TRUE) != CSTR_EQUAL) {
            continue;
          }
          Gdiplus::GpFontFamily* clone = nullptr;
          if (GdipCloneFontFamily(family, &clone) != Gdiplus::Ok) return UniqueFontFamily();
          return UniqueFontFamily(clone);
        }
        return UniqueFontFamily();
      },
      UniqueFontFamily());
}

}  // namespace kestrivon::win
