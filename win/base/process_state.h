#pragma once

// Facts that exist once per process: the install directory, the running executable, the
// single-instance mutex and the cancel flag that every layer observes. The window's own
// flags live with the window's state (win/ui/ui_state.h).

#include <windows.h>

#include <atomic>
#include <string>

#include "core/install_folder.h"
#include "win/base/unique_handle.h"

namespace kestrivon::win {

// Set by RequestCancel when the user closes the window or presses Cancel; never cleared.
extern std::atomic<bool> cancelRequested;

// Resolved once per process (thread-safe); later calls return the stored value.
std::wstring ResolveInstallDir();

// HKCU\Software\Kestrivon "InstallPath" without its trailing separators, or an empty string.
std::wstring ReadInstallPathFromRegistry();

// Why the install directory may not be used (None when it may), judged once per process: the
// registry's folder as it is, or the default one, which is empty when the local application
// data folder is unknown.
core::InstallFolderProblem InstallDirProblem();

// The log's folder: "logs" in the install directory, or in the default one while the
// install directory is refused; empty when there is neither.
std::wstring LogFolder();

// The running executable's full path, or an empty string.
std::wstring CurrentExePath();

// Creates "Local\Kestrivon_Sync_Mutex" into `mutex` (closing what it held before); false
// (and `mutex` empty) when another holder exists. A failed creation counts as success
// without protection.
bool AcquireInstanceMutex(UniqueHandle& mutex);

}  // namespace kestrivon::win
