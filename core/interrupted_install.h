#pragma once

// A runtime or launcher swap cut short by a kill or a power cut leaves the previous copy in
// "temp"; it is put back at the next start, before "temp" is emptied. The host's swaps and
// this restore agree on the backup folders below.

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrivon::core {

// The whole previous runtime folder, moved aside by the runtime swap.
inline constexpr std::string_view runtimeBackupFolder = "backup-jre";
// The previous KestrivonLauncher.exe and app folder. The launcher swap moves the executable
// aside first and the new one in last, so an install folder without the executable while the
// backup holds one is a swap that did not finish.
inline constexpr std::string_view launcherBackupFolder = "backup-launcher";
inline constexpr std::string_view launcherExecutable = "KestrivonLauncher.exe";
inline constexpr std::string_view launcherAppFolder = "app";
// Written (holding the previous package digest) before the record names a new updater, and
// deleted by the host once the new executable is in place: while it exists, the record may
// name an updater whose file never arrived.
inline constexpr std::string_view updaterSwapMarker = "updater-swap-pending";

// Puts back the previous runtime when "runtime" is missing and its backup holds bin/java.exe,
// and the previous launcher when the install folder lacks the launcher executable and the
// backup holds one; and the record's previous updater digest when the updater's swap marker
// is still there. Logs what it restores and what it cannot. Never throws.
void RestoreInterruptedInstalls(const std::filesystem::path& root);

// The marker in root/temp, holding `previousDigest`; false (logged) when it can't be written.
bool WriteUpdaterSwapMarker(const std::filesystem::path& root, const std::string& previousDigest);
void RemoveUpdaterSwapMarker(const std::filesystem::path& root);

}  // namespace kestrivon::core
