#pragma once

// The one way a fuzz target reports a broken property: a message, then abort(), which both
// libFuzzer and the replay test count as a failure.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace kestrivon::fuzz {

[[noreturn]] inline void Fail(std::string_view what, std::string_view detail = {}) {
  const std::string line = "FUZZ FAILURE: " + std::string(what) + " " + std::string(detail) + "\n";
  std::fputs(line.c_str(), stderr);
  std::abort();
}

inline void Check(bool condition, std::string_view what, std::string_view detail = {}) {
  if (!condition) Fail(what, detail);
}

}  // namespace kestrivon::fuzz
