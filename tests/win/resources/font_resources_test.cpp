// The embedded fonts as GDI+ sees them (loaded from this executable's resources, as the
// window loads them from the program's), and the system family that stands in when they are
// missing.

#include <windows.h>
// GDI+ needs the COM declarations first.
#include <objidl.h>

#include <gdiplus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "win/resources/resource_ids.h"
#include "win/ui/font_collection.h"

namespace kestrivon::win {
namespace {

using namespace Gdiplus::DllExports;

class FontResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
  }
  static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token_); }

  // The three fonts in one private collection, in the program's order.
  static UniquePrivateFontCollection LoadEmbeddedFonts() {
    Gdiplus::GpFontCollection* raw = nullptr;
    if (GdipNewPrivateFontCollection(&raw) != Gdiplus::Ok) return {};
    UniquePrivateFontCollection collection(raw);
    for (const int id : {KESTRIVON_IDR_FONT_ONEST_REGULAR, KESTRIVON_IDR_FONT_ONEST_SEMIBOLD,
                         KESTRIVON_IDR_FONT_UNBOUNDED_BOLD}) {
      const HRSRC resource =
          FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
      const HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
      const void* data = loaded ? LockResource(loaded) : nullptr;
      EXPECT_NE(data, nullptr) << "font resource " << id;
      if (data == nullptr) continue;
      EXPECT_EQ(GdipPrivateAddMemoryFont(collection.Get(), data,
                                         static_cast<INT>(SizeofResource(nullptr, resource))),
                Gdiplus::Ok)
          << "font resource " << id;
    }
    return collection;
  }

  static std::wstring FamilyName(Gdiplus::GpFontFamily* family) {
    WCHAR name[LF_FACESIZE] = {};
    return GdipGetFamilyName(family, name, LANG_NEUTRAL) == Gdiplus::Ok ? name : L"";
  }

  static inline ULONG_PTR token_ = 0;
};

TEST_F(FontResources, CollectionListsTheThreeFamiliesWithTheirStyles) {
  const UniquePrivateFontCollection collection = LoadEmbeddedFonts();
  ASSERT_TRUE(collection);
  INT count = 0;
  ASSERT_EQ(GdipGetFontCollectionFamilyCount(collection.Get(), &count), Gdiplus::Ok);
  std::vector<Gdiplus::GpFontFamily*> listed(static_cast<size_t>(std::max(count, 1)));
  INT found = 0;
  ASSERT_EQ(GdipGetFontCollectionFamilyList(collection.Get(), count, listed.data(), &found),
            Gdiplus::Ok);
  std::vector<std::wstring> names;
  for (INT i = 0; i < found; ++i) names.push_back(FamilyName(listed[static_cast<size_t>(i)]));
  std::ranges::sort(names);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Onest", L"Onest SemiBold", L"Unbounded"}));

  const struct {
    const wchar_t* name;
    INT style;
  } families[] = {{L"Onest", Gdiplus::FontStyleRegular},
                  {L"onest semibold", Gdiplus::FontStyleRegular},
                  {L"Unbounded", Gdiplus::FontStyleBold}};
  for (const auto& f : families) {
    SCOPED_TRACE(f.name);
    const UniqueFontFamily family = FindPrivateFamily(collection.Get(), f.name);
    ASSERT_TRUE(family);
    BOOL available = FALSE;
    EXPECT_EQ(GdipIsStyleAvailable(family.Get(), f.style, &available), Gdiplus::Ok);
    EXPECT_TRUE(available);
    Gdiplus::GpFont* font = nullptr;
    EXPECT_EQ(GdipCreateFont(family.Get(), 12.0f, f.style, Gdiplus::UnitPoint, &font), Gdiplus::Ok);
    if (font != nullptr) GdipDeleteFont(font);
  }
  EXPECT_FALSE(FindPrivateFamily(collection.Get(), L"Segoe UI"));
  EXPECT_FALSE(FindPrivateFamily(collection.Get(), L"Onest Semi"));
  EXPECT_FALSE(FindPrivateFamily(nullptr, L"Onest"));
}

// The road without embedded fonts: under Wine only the prefix's replacements make these exist.
TEST_F(FontResources, SystemFallbackFamiliesResolve) {
  Gdiplus::GpFontFamily* segoe = nullptr;
  ASSERT_EQ(GdipCreateFontFamilyFromName(L"Segoe UI", nullptr, &segoe), Gdiplus::Ok);
  const UniqueFontFamily segoeOwner(segoe);
  Gdiplus::GpFontFamily* generic = nullptr;
  ASSERT_EQ(GdipGetGenericFontFamilySansSerif(&generic), Gdiplus::Ok);
  ASSERT_NE(generic, nullptr);  // shared by the process: not ours to delete
  for (Gdiplus::GpFontFamily* family : {segoe, generic}) {
    Gdiplus::GpFont* font = nullptr;
    EXPECT_EQ(GdipCreateFont(family, 12.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPoint, &font),
              Gdiplus::Ok);
    if (font != nullptr) GdipDeleteFont(font);
  }
}

}  // namespace
}  // namespace kestrivon::win
