// The exact forms; that CommandLineToArgvW gives every form back is tested under Wine.

#include "handoff/command_line_rules.h"

#include <gtest/gtest.h>

namespace kestrivon::win {
namespace {

TEST(CommandLineRules, QuotesOnlyWhatNeedsIt) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"--flag", L"--flag"},
      {L"C:\\dir\\", L"C:\\dir\\"},  // neither backslashes alone
      {L"a\rb", L"a\rb"},            // nor a carriage return force quotes
      {L"", L"\"\""},
      {L"a\"b", L"\"a\\\"b\""},
      {L"C:\\my dir\\", L"\"C:\\my dir\\\\\""},
      {L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},  // a run before a quote: 2n + 1
      {L"a\\b\tc", L"\"a\\b\tc\""},          // before another character: n
  };
  for (const auto& [argument, quoted] : cases) EXPECT_EQ(QuoteArgument(argument), quoted);
  EXPECT_EQ(JoinQuotedArguments({}), L"");
  EXPECT_EQ(JoinQuotedArguments({L"kestrivon://open", L"", L"b c"}),
            L"kestrivon://open \"\" \"b c\"");
}

}  // namespace
}  // namespace kestrivon::win
