#pragma once

// A swap of the runtime, the launcher or the updater's own file is a few renames that must
// never be cut in half by the program itself: the forced exit after the window closes waits
// for an open protected section (a kill or a power cut is left to the next start's restore).

#include <chrono>

namespace kestrivon::win {

class ProtectedSection {
 public:
  ProtectedSection() noexcept;
  ~ProtectedSection();
  ProtectedSection(const ProtectedSection&) = delete;
  ProtectedSection& operator=(const ProtectedSection&) = delete;
};

bool AnyProtectedSectionOpen() noexcept;

// Waits until no protected section is open, at most `bound`; true when none is open.
bool WaitForProtectedSections(std::chrono::milliseconds bound) noexcept;

}  // namespace kestrivon::win
