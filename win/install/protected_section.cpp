#include "win/install/protected_section.h"

#include <condition_variable>
#include <mutex>
#include <string>

#include "win/log/log_file.h"

namespace kestrivon::win {
namespace {

std::mutex sectionMutex;
std::condition_variable sectionClosed;
int openSections = 0;  // guarded by sectionMutex

bool AnyProtectedSectionOpen() noexcept {
  const std::lock_guard lock(sectionMutex);
  return openSections > 0;
}

// Waits until no protected section is open, at most `bound`; true when none is open.
bool WaitForProtectedSections(std::chrono::milliseconds bound) noexcept {
  std::unique_lock lock(sectionMutex);
  return sectionClosed.wait_for(lock, bound, [] { return openSections == 0; });
}

}  // namespace

ProtectedSection::ProtectedSection() noexcept {
  const std::lock_guard lock(sectionMutex);
  ++openSections;
}

ProtectedSection::~ProtectedSection() {
  {
    const std::lock_guard lock(sectionMutex);
    --openSections;
  }
  sectionClosed.notify_all();
}

WorkerEnd WaitForWorkerEnd(const std::future<void>& worker, std::chrono::milliseconds windDown,
                           std::chrono::milliseconds swapBound) {
  if (worker.wait_for(windDown) == std::future_status::ready) return WorkerEnd::Stopped;
  if (!AnyProtectedSectionOpen()) return WorkerEnd::Stuck;
  WriteLogLine(L"[WARN] Waiting for a file swap to finish before exiting");
  if (!WaitForProtectedSections(swapBound)) {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(swapBound).count();
    WriteLogLine(L"[WARN] The file swap didn't finish within " + std::to_wstring(seconds) + L" s");
    return WorkerEnd::SwapTooLong;
  }
  return worker.wait_for(windDown) == std::future_status::ready ? WorkerEnd::StoppedAfterSwap
                                                                : WorkerEnd::Stuck;
}

}  // namespace kestrivon::win
