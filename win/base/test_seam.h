#pragma once

// The one place where a test may replace what the program does. Every hook is null in the
// program; a test sets one for its own duration and clears it again. Nothing else in the
// product headers is there for tests.

#include <string>

namespace kestrivon::win {

struct TestSeam {
  // Called on the transferring thread each time a WinHTTP handle has been opened and is not
  // yet where RequestCancel can close it.
  void (*transferHandleOpened)() = nullptr;
  // Opens the log folder instead of the shell, whose file manager would outlive the test
  // under Wine (and hold its output open).
  void (*openFolder)(const std::wstring& folder) = nullptr;
  // Called on the worker each time the host is told of a new stage: a test's stand-in for a
  // failure nobody expected inside the engine (it throws).
  void (*stageSet)() = nullptr;
};

inline TestSeam testSeam;

}  // namespace kestrivon::win
