#pragma once

// Facts that exist once per process: the install directory, the running executable, the
// single-instance mutex and the cancel flag that every layer observes. The window's own
// flags live with the window's state (win/ui/ui_state.h).

#include <windows.h>

#include <atomic>
#include <string>

#include "win/base/unique_handle.h"

namespace kestrivon::win {

// Set by RequestCancel when the user closes the window or presses Cancel; never cleared.
extern std::atomic<bool> cancelRequested;

// Resolved once per process (thread-safe); later calls return the stored value.
std::wstring ResolveInstallDir();

// HKCU\Software\Kestrivon "InstallPath", validated, or an empty string.
std::wstring ReadInstallPathFromRegistry();

// The running executable's full path, or an empty string.
std::wstring CurrentExePath();

// Creates "Local\Kestrivon_Sync_Mutex" into `mutex` (closing what it held before); false
// (and `mutex` empty) when another holder exists. A failed creation counts as success
// without protection.
bool AcquireInstanceMutex(UniqueHandle& mutex);

}  // namespace kestrivon::win
