// The catalogues' decoding, locale classification, and the language choice under the Wine
// process's locale. The catalogue's completeness is checked when it compiles.

#include "win/ui/ui_strings.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"

namespace kestrivon::win {
namespace {

// Russian is decoded from UTF-8; an unknown language gets English.
TEST(UiStrings, CataloguesAndRussianLocaleNames) {
  EXPECT_STREQ(GetUiStrings(UiLanguage::Russian).buttonCancel, L"Отмена");
  EXPECT_EQ(&GetUiStrings(static_cast<UiLanguage>(7)), &GetUiStrings(UiLanguage::English));
  for (std::string_view name : {"ru", "RU", "ru-RU", "ru_RU", "ru.UTF-8"}) {
    EXPECT_TRUE(IsRussianLocaleName(name)) << name;
  }
  for (std::string_view name : {"", "rus", "ro-RO", " ru", "ur", "(unknown)"}) {
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

  kestrivon::testing::TempDir installDir;
  testing::ScopedInstallPath value(installDir.path().wstring());

  ChooseUiLanguage();
  EXPECT_EQ(currentUiStrings, &GetUiStrings(expected));
  EXPECT_TRUE(testing::ReadFileBytes(installDir.path() / L"logs\\Kestrivon_Updater.log")
                  .contains(fmt::format("] [INFO] Locale: {} -> {} UI\n", locale, ui)));
}

}  // namespace
}  // namespace kestrivon::win
