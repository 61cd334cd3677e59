#pragma once

// A swap of the runtime, the launcher or the updater's own file is a few renames that must
// never be cut in half by the program itself: the forced exit after the window closes waits
// for an open protected section (a kill or a power cut is left to the next start's restore).

#include <chrono>
#include <cstdint>
#include <future>

namespace kestrivon::win {

class ProtectedSection {
 public:
  ProtectedSection() noexcept;
  ~ProtectedSection();
  ProtectedSection(const ProtectedSection&) = delete;
  ProtectedSection& operator=(const ProtectedSection&) = delete;
};

enum class WorkerEnd : uint8_t {
  Stopped,           // within the wind-down
  StoppedAfterSwap,  // once an open swap had finished
  SwapTooLong,       // a swap still open after `swapBound`
  Stuck,             // no swap open, and still running
};

// The forced exit's wait for the worker after the window has closed: the wind-down, and a
// swap in progress on top of it (logged), so the program never cuts one in half itself.
// Main thread only.
WorkerEnd WaitForWorkerEnd(const std::future<void>& worker, std::chrono::milliseconds windDown,
                           std::chrono::milliseconds swapBound);

}  // namespace kestrivon::win
