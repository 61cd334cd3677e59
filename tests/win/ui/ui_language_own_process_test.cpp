// The language choice under the Wine process's locale. CTest runs this once with
// LANG=ru_RU.UTF-8 and once with LANG=en_US.UTF-8, each time in a process of its own and
// with the locale name and language it expects (see CMakeLists.txt).

#include "win/ui/ui_strings.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/win/wine_test_support.h"
#include "win/host/process_state.h"
#include "win/host/text_encoding.h"

namespace kestrivon::win {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

TEST(UiLanguageOwnProcess, FollowsTheSystemLocale) {
  if (!testing::RunsInOwnProcess()) GTEST_SKIP() << "needs a process of its own";
  const std::string expectedLocale = Environment("KESTRIVON_EXPECTED_LOCALE");
  const std::string expectedUi = Environment("KESTRIVON_EXPECTED_UI");
  ASSERT_TRUE(expectedUi == "Russian" || expectedUi == "English") << expectedUi;
  const UiLanguage expected = expectedUi == "Russian" ? UiLanguage::Russian : UiLanguage::English;

  // English from static initialisation until the choice.
  EXPECT_EQ(currentUiStrings, &GetUiStrings(UiLanguage::English));
  EXPECT_EQ(CurrentUiLanguage(), UiLanguage::English);

  testing::TempFolder installDir(L"ui-language");
  testing::ScopedInstallPathValue value(installDir.Path());
  ASSERT_TRUE(value.Ok());
  ASSERT_EQ(ResolveInstallDir(), installDir.Path());

  ChooseUiLanguage();
  EXPECT_EQ(CurrentUiLanguage(), expected);
  EXPECT_EQ(currentUiStrings, &GetUiStrings(expected));

  const std::string log = testing::ReadFileBytes(installDir.Join(L"logs\\Kestrivon_Updater.log"));
  EXPECT_NE(log.find("] [INFO] Locale: " + expectedLocale + " -> " + expectedUi + " UI\n"),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace kestrivon::win
