#include "win/install/protected_section.h"

#include <condition_variable>
#include <mutex>

namespace kestrivon::win {
namespace {

std::mutex sectionMutex;
std::condition_variable sectionClosed;
int openSections = 0;  // guarded by sectionMutex

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

bool AnyProtectedSectionOpen() noexcept {
  const std::lock_guard lock(sectionMutex);
  return openSections > 0;
}

bool WaitForProtectedSections(std::chrono::milliseconds bound) noexcept {
  std::unique_lock lock(sectionMutex);
  return sectionClosed.wait_for(lock, bound, [] { return openSections == 0; });
}

}  // namespace kestrivon::win
