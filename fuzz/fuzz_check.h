#pragma once

// The one way a fuzz target reports a broken property: a message, then abort(), which both
// libFuzzer and the replay test count as a failure.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace kestrivon::fuzz {

[[noreturn]] inline void Fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "FUZZ FAILURE: %.*s %.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void Check(bool condition, std::string_view what, std::string_view detail = {}) {
  if (!condition) Fail(what, detail);
}

}  // namespace kestrivon::fuzz
