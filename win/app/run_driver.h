#pragma once

// What the update worker runs: the start-up checks of the install location, the engine's run
// against the Windows host, the launcher start, and the mapping to the process exit code.

#include <string>

#include "core/update_records.h"
#include "win/base/unique_handle.h"

namespace kestrivon::win {

// Worker thread only; blocks for the whole run. `instanceMutex` is the program's owner of
// the single-instance mutex (the self-replacement re-creates it).
int RunUpdateAndLaunch(const std::wstring& installDir, UniqueHandle* instanceMutex);

}  // namespace kestrivon::win
