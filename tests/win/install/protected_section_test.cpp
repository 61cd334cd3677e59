// The forced exit's wait: a swap in progress is waited for, within its bound; nothing else is.

#include "win/install/protected_section.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <thread>

namespace kestrivon::win {
namespace {

using std::chrono::milliseconds;

TEST(ProtectedSection, TheForcedExitWaitsOnlyForAnOpenSwap) {
  struct Case {
    const char* name;
    milliseconds workerRuns;               // until the worker ends
    std::optional<milliseconds> swapOpen;  // a swap the worker holds open from the start
    milliseconds swapBound;
    WorkerEnd expected;
  };
  // Margins of several hundred milliseconds: the outcomes, not the timings, are the point.
  const Case cases[] = {
      {"ends within the wind-down", milliseconds(0), std::nullopt, milliseconds(5000),
       WorkerEnd::Stopped},
      {"stuck outside any swap", milliseconds(1500), std::nullopt, milliseconds(5000),
       WorkerEnd::Stuck},
      {"ends once its swap is done", milliseconds(900), milliseconds(800), milliseconds(5000),
       WorkerEnd::StoppedAfterSwap},
      {"a swap past its bound", milliseconds(2500), milliseconds(2400), milliseconds(300),
       WorkerEnd::SwapTooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::promise<void> swapStarted;
    std::promise<void> ended;
    const std::future<void> worker = ended.get_future();
    std::thread thread([&] {
      if (c.swapOpen) {
        const ProtectedSection section;
        swapStarted.set_value();
        std::this_thread::sleep_for(*c.swapOpen);
      } else {
        swapStarted.set_value();
      }
      std::this_thread::sleep_for(c.workerRuns - c.swapOpen.value_or(milliseconds(0)));
      ended.set_value();
    });
    swapStarted.get_future().wait();
    EXPECT_EQ(WaitForWorkerEnd(worker, milliseconds(400), c.swapBound), c.expected);
    thread.join();
  }
}

}  // namespace
}  // namespace kestrivon::win
