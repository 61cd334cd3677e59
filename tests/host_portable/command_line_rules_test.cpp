#include "win/host/command_line_rules.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrivon::win {
namespace {

TEST(CommandLineRules, QuoteArgument) {
  const struct {
    std::wstring argument;
    std::wstring quoted;
  } cases[] = {
      {L"--flag", L"--flag"},
      {L"C:\\dir\\", L"C:\\dir\\"},  // backslashes alone never force quotes
      {L"a\rb", L"a\rb"},            // nor does a carriage return
      {L"", L"\"\""},
      {L"a\"b", L"\"a\\\"b\""},
      {L"C:\\my dir\\", L"\"C:\\my dir\\\\\""},
      {L"C:\\My Games\\Kestrivon\\KestrivonLauncher.exe",
       L"\"C:\\My Games\\Kestrivon\\KestrivonLauncher.exe\""},
      {L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},  // two backslashes before a quote: 2n + 1
      {L"a\\b c", L"\"a\\b c\""},            // a run before another character stays
      {L"a\tb", L"\"a\tb\""},
      {L"a\nb", L"\"a\nb\""},
      {L"a\vb", L"\"a\vb\""},
      {L"\\\\", L"\\\\"},
      {L" \\\\", L"\" \\\\\\\\\""},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteArgument(c.argument), c.quoted) << c.argument;
}

TEST(CommandLineRules, JoinQuotedArguments) {
  EXPECT_EQ(JoinQuotedArguments({}), L"");
  EXPECT_EQ(JoinQuotedArguments({L""}), L"\"\"");
  EXPECT_EQ(JoinQuotedArguments({L"kestrivon://open", L"", L"b c"}),
            L"kestrivon://open \"\" \"b c\"");
}

}  // namespace
}  // namespace kestrivon::win
