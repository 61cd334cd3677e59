#pragma once

// ASCII-only text helpers: digests and host names are compared byte-wise, never by locale.

#include <algorithm>
#include <string_view>

namespace kestrivon::core {

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal when both are non-empty, of the same length and equal after folding 'A'..'Z'.
inline bool DigestsMatch(std::string_view a, std::string_view b) {
  return !a.empty() && a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace kestrivon::core
