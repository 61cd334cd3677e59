#pragma once

// Test seam for the end-to-end kill runs, inert in normal use. With
// KESTRIVON_TEST_KILL_AT_STEP=N in its environment at start, the process ends at once, as a
// kill or a power cut would end it (TerminateProcess, exit code 75, nothing flushed or
// logged), when it reaches the Nth step mark of its installs and swaps. The variable is taken
// out of the environment at start, so no process started later inherits it.

#include <cstdint>

namespace kestrivon::win {

inline constexpr uint32_t kKilledAtStepExitCode = 75;

// Reads and removes the variable; call once, before any other thread runs.
void ArmKillPointFromEnvironment() noexcept;

// Marks the boundary between two steps of an install or a swap.
void InstallStep() noexcept;

}  // namespace kestrivon::win
