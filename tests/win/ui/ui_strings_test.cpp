// The catalogue's shape and the identities between its entries, locale classification, and the
// language choice under the Wine process's locale. The texts themselves are not repeated here.

#include "win/ui/ui_strings.h"

#include <cstdlib>
#include <cwchar>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"
#include "win/host/process_state.h"

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
    for (UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
      EXPECT_FALSE(Entry(language, a).empty()) << "entry " << a << " of " << int(language);
    }
  }
  // Both catalogues are built once; any other value selects English.
  EXPECT_EQ(&GetUiStrings(UiLanguage::Russian), &GetUiStrings(UiLanguage::Russian));
  EXPECT_NE(&GetUiStrings(UiLanguage::Russian), &GetUiStrings(UiLanguage::English));
  EXPECT_EQ(&GetUiStrings(static_cast<UiLanguage>(7)), &GetUiStrings(UiLanguage::English));
}

TEST(UiStrings, IdentitiesBetweenEntries) {
  for (UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
    EXPECT_EQ(Entry(language, 0), Entry(language, 34));
    EXPECT_EQ(Entry(language, 39), Entry(language, 44));
    // The one backslash in the catalogue is a real backslash.
    EXPECT_NE(std::wcsstr(GetUiStrings(language).errorPathNotRepresentable, L" D:\\Games."),
              nullptr);
  }
  for (size_t entry : {0, 32, 33, 34}) {
    EXPECT_EQ(Entry(UiLanguage::English, entry), Entry(UiLanguage::Russian, entry)) << entry;
  }
  EXPECT_STREQ(GetUiStrings(UiLanguage::Russian).buttonCancel, L"Отмена");
  EXPECT_STREQ(GetUiStrings(UiLanguage::English).buttonCancel, L"Cancel");
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

// CTest runs this once with LANG=ru_RU.UTF-8 and once with LANG=en_US.UTF-8, each time in a
// process of its own and with the locale name and language it expects (see CMakeLists.txt).
TEST(UiLanguageOwnProcess, FollowsTheSystemLocale) {
  if (!testing::RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  const char* locale = std::getenv("KESTRIVON_EXPECTED_LOCALE");
  const char* ui = std::getenv("KESTRIVON_EXPECTED_UI");
  ASSERT_TRUE(locale != nullptr && ui != nullptr);
  const UiLanguage expected =
      std::string_view(ui) == "Russian" ? UiLanguage::Russian : UiLanguage::English;

  // English from static initialisation until the choice.
  EXPECT_EQ(currentUiStrings, &GetUiStrings(UiLanguage::English));
  EXPECT_EQ(CurrentUiLanguage(), UiLanguage::English);

  kestrivon::testing::TempDir installDir;
  testing::ScopedInstallPath value(installDir.path().wstring());
  ASSERT_TRUE(value.Ok());
  ASSERT_EQ(ResolveInstallDir(), installDir.path().wstring());

  ChooseUiLanguage();
  EXPECT_EQ(CurrentUiLanguage(), expected);
  EXPECT_EQ(currentUiStrings, &GetUiStrings(expected));
  const std::string log =
      testing::ReadFileBytes(installDir.path() / L"logs\\Kestrivon_Updater.log");
  EXPECT_NE(log.find(fmt::format("] [INFO] Locale: {} -> {} UI\n", locale, ui)), std::string::npos)
      << log;
}

}  // namespace
}  // namespace kestrivon::win
