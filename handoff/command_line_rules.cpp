#include "handoff/command_line_rules.h"

namespace kestrivon::win {

namespace {

// Carriage return is deliberately absent: the standard splitting does not break on it.
constexpr std::wstring_view kForcesQuotes = L" \t\n\v\"";

}  // namespace

std::wstring QuoteArgument(std::wstring_view argument) {
  if (!argument.empty() && argument.find_first_of(kForcesQuotes) == std::wstring_view::npos) {
    return std::wstring(argument);
  }
  std::wstring quoted = L"\"";
  size_t i = 0;
  while (true) {
    size_t backslashes = 0;
    while (i < argument.size() && argument[i] == L'\\') {
      ++backslashes;
      ++i;
    }
    if (i == argument.size()) {
      // The closing quote must not be escaped by the run in front of it.
      quoted.append(2 * backslashes, L'\\');
      quoted += L'"';
      return quoted;
    }
    if (argument[i] == L'"') {
      quoted.append(2 * backslashes + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted += argument[i++];
  }
}

std::wstring JoinQuotedArguments(const std::vector<std::wstring>& arguments) {
  std::wstring joined;
  for (const std::wstring& argument : arguments) {
    if (!joined.empty()) joined += L' ';
    joined += QuoteArgument(argument);
  }
  return joined;
}

}  // namespace kestrivon::win
