#pragma once

// What the update worker runs: the start-up checks of the install location, the engine's run
// against the Windows host, the launcher start, and the mapping to the process exit code.

#include <string>

#include "core/updater_host.h"
#include "win/host/unique_handle.h"

namespace kestrivon::win {

// Exit code of a finished run: Ready becomes 0 when the launcher started and 2 when it did
// not; Restarted 0; Cancelled and Failed 1.
int ExitCodeForRun(core::RunResult result, bool launcherStarted);

// Worker thread only; blocks for the whole run. `instanceMutex` is the program's owner of
// the single-instance mutex (the self-replacement re-creates it).
int RunUpdateAndLaunch(const std::wstring& installDir, UniqueHandle* instanceMutex);

}  // namespace kestrivon::win
