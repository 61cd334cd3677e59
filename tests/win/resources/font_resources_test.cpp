// The embedded fonts as the window finds them in this executable's resources (loaded as from
// the program's), and the system families that stand in when they are missing.

#include "win/ui/fonts.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/ui_test_support.h"
#include "win/ui/font_collection.h"

namespace kestrivon::win {
namespace {

std::wstring FamilyName(const UniqueFontFamily& family) {
  WCHAR name[LF_FACESIZE] = {};
  Gdiplus::DllExports::GdipGetFamilyName(family.Get(), name, LANG_NEUTRAL);
  return name;
}

TEST(FontResources, EmbeddedFontsGiveEveryRoleItsFamily) {
  const FontSet& fonts = GetFontSet();
  const struct {
    const UniqueFontFamily& family;
    INT style;
    const wchar_t* name;
  } roles[] = {{fonts.headingFamily, fonts.headingStyle, L"Unbounded"},
               {fonts.bodyFamily, fonts.bodyStyle, L"Onest"},
               {fonts.buttonFamily, fonts.buttonStyle, L"Onest SemiBold"}};
  for (const auto& role : roles) {
    ASSERT_TRUE(role.family) << role.name;
    EXPECT_EQ(FamilyName(role.family), role.name);
    EXPECT_TRUE(MakeFont(role.family, role.style, 12)) << role.name;
  }
  EXPECT_EQ(fonts.headingStyle, Gdiplus::FontStyleBold);
}

// Under Wine only the prefix's font replacements give the system families.
TEST(FontResources, WithoutEmbeddedFontsTheSystemGivesEveryRole) {
  Gdiplus::GpFontCollection* rawEmpty = nullptr;
  ASSERT_EQ(Gdiplus::DllExports::GdipNewPrivateFontCollection(&rawEmpty), Gdiplus::Ok);
  const UniquePrivateFontCollection empty(rawEmpty);
  for (Gdiplus::GpFontCollection* collection :
       {empty.Get(), static_cast<Gdiplus::GpFontCollection*>(nullptr)}) {
    const FontSet fallback = BuildFontSet(collection);
    EXPECT_TRUE(MakeFont(fallback.headingFamily, fallback.headingStyle, 12));
    EXPECT_TRUE(MakeFont(fallback.bodyFamily, fallback.bodyStyle, 10));
    EXPECT_TRUE(MakeFont(fallback.buttonFamily, fallback.buttonStyle, 9.5f));
    EXPECT_EQ(fallback.headingStyle, Gdiplus::FontStyleBold);
  }
  // A family that cannot make fonts gives none.
  EXPECT_FALSE(MakeFont(UniqueFontFamily(), Gdiplus::FontStyleRegular, 10));
}

}  // namespace
}  // namespace kestrivon::win
