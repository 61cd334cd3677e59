#pragma once

// ASCII-only text helpers: digests and host names are compared byte-wise, never by locale.

#include <algorithm>
#include <string_view>

namespace kestrivon::core {

template <typename Char>
constexpr bool IsAsciiLetter(Char c) {
  return (c >= Char('A') && c <= Char('Z')) || (c >= Char('a') && c <= Char('z'));
}

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// Digest texts: equal when both are non-empty and equal after folding 'A'..'Z'.
inline bool DigestsMatch(std::string_view a, std::string_view b) {
  return !a.empty() && EqualsIgnoringAsciiCase(a, b);
}

}  // namespace kestrivon::core
