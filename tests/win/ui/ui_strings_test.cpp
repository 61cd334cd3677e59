// The catalogue's shape and the identities between its entries, and locale classification.
// The texts themselves are not repeated here.

#include "win/ui/ui_strings.h"

#include <cwchar>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace kestrivon::win {
namespace {

std::wstring_view Entry(UiLanguage language, size_t entry) {
  return GetUiStrings(language).*kUiStringEntries[entry];
}

TEST(UiStrings, EveryEntryIsReachableByNumberAndFilledInBothLanguages) {
  // A field missing from the numbered list, or listed twice, would leave an entry unset.
  EXPECT_EQ(sizeof(UiStrings), kUiStringCount * sizeof(const wchar_t*));
  for (size_t a = 0; a < kUiStringCount; ++a) {
    for (size_t b = a + 1; b < kUiStringCount; ++b) {
      EXPECT_NE(kUiStringEntries[a], kUiStringEntries[b]) << a << " and " << b;
    }
  }

  for (UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
    for (size_t entry = 0; entry < kUiStringCount; ++entry) {
      EXPECT_FALSE(Entry(language, entry).empty())
          << "entry " << entry << " of language " << static_cast<int>(language);
    }
  }
}

TEST(UiStrings, IdentitiesBetweenEntries) {
  for (UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
    EXPECT_EQ(Entry(language, 0), Entry(language, 34));
    EXPECT_EQ(Entry(language, 39), Entry(language, 44));
  }
  for (size_t entry : {0, 32, 33, 34}) {
    EXPECT_EQ(Entry(UiLanguage::English, entry), Entry(UiLanguage::Russian, entry)) << entry;
  }
  EXPECT_STREQ(GetUiStrings(UiLanguage::Russian).buttonCancel, L"Отмена");
  EXPECT_STREQ(GetUiStrings(UiLanguage::English).buttonCancel, L"Cancel");
  // The one backslash in the catalogue is a real backslash, in both languages.
  for (UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
    EXPECT_NE(std::wcsstr(GetUiStrings(language).errorPathNotRepresentable, L" D:\\Games."),
              nullptr);
  }
}

TEST(UiStrings, CataloguesAreBuiltOnceAndOtherValuesSelectEnglish) {
  const UiStrings& russian = GetUiStrings(UiLanguage::Russian);
  EXPECT_EQ(&russian, &GetUiStrings(UiLanguage::Russian));
  EXPECT_EQ(russian.statusPreparing, GetUiStrings(UiLanguage::Russian).statusPreparing);
  EXPECT_NE(&russian, &GetUiStrings(UiLanguage::English));
  EXPECT_EQ(&GetUiStrings(static_cast<UiLanguage>(7)), &GetUiStrings(UiLanguage::English));
}

TEST(UiStrings, RussianLocaleNames) {
  for (std::string_view name : {"ru", "RU", "rU", "ru-RU", "ru_RU", "ru-UA", "ru.UTF-8"}) {
    EXPECT_TRUE(IsRussianLocaleName(name)) << name;
  }
  for (std::string_view name :
       {"", "r", "rus", "ru@", " ru", "ur", "be-BY", "uk-UA", "en-US", "(unknown)", "\xD1\x80u"}) {
    EXPECT_FALSE(IsRussianLocaleName(name)) << name;
  }
}

}  // namespace
}  // namespace kestrivon::win
