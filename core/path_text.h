#pragma once

// Path text rules shared by the engine, the extractor and the Windows side, for narrow and
// wide text alike: both separators count, since Windows accepts either.

#include <string_view>

namespace kestrivon::core {

template <typename Char>
constexpr bool IsPathSeparator(Char c) {
  return c == Char('\\') || c == Char('/');
}

namespace detail {
template <typename Char>
constexpr std::basic_string_view<Char> LastPathComponent(std::basic_string_view<Char> path) {
  size_t start = path.size();
  while (start > 0 && !IsPathSeparator(path[start - 1])) --start;
  return path.substr(start);
}
}  // namespace detail

// The text after the last separator ("runtime" of "C:\Kestrivon\runtime"); the whole text
// when it has none.
constexpr std::string_view LastPathComponent(std::string_view path) {
  return detail::LastPathComponent(path);
}
constexpr std::wstring_view LastPathComponent(std::wstring_view path) {
  return detail::LastPathComponent(path);
}

}  // namespace kestrivon::core
