#pragma once

// How one argument is written on a Windows command line so that the standard splitting
// (CommandLineToArgvW) gives it back unchanged. Pure string rules, the same on every platform.

#include <string>
#include <string_view>
#include <vector>

namespace kestrivon::win {

// The argument unchanged when it is not empty and holds none of " \t\n\v\""; otherwise in
// double quotes, with each backslash run doubled before a quote or the end and every embedded
// quote escaped.
std::wstring QuoteArgument(std::wstring_view argument);

// Each argument through QuoteArgument, joined by single spaces; empty for no arguments.
std::wstring JoinQuotedArguments(const std::vector<std::wstring>& arguments);

}  // namespace kestrivon::win
