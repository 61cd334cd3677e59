// Carries the program's resources for the tests and prints what its manifest changed: the
// process's ANSI code page and DPI awareness.

#include <windows.h>

#include <cstdio>

int main() {
  std::printf(
      "code page %u, DPI awareness %d\n", GetACP(),
      static_cast<int>(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext())));
  return 0;
}
