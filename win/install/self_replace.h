#pragma once

// The updater replacing its own executable with the one from a verified package and starting
// it. The running file is moved aside to ".backup" (a rename works while it runs), the new
// one copied into its place, and every failure puts the previous file back. Each start
// removes a backup left by an earlier replacement.

#include <string>

#include "win/base/unique_handle.h"

namespace kestrivon::win {

// Worker thread. True: the new updater runs and this process must end; `instanceMutex`
// (the entry's handle, closed so that the new process can take it) is empty then. False:
// the running updater's file is unchanged or restored and the mutex held as before.
bool ApplyUpdaterUpdate(const std::wstring& installDir, const std::wstring& package,
                        UniqueHandle* instanceMutex) noexcept;

// Deletes the running executable's path + ".backup", if there is one.
void RemoveStaleUpdaterBackup() noexcept;

}  // namespace kestrivon::win
