#include "core/interrupted_install.h"

#include <fstream>
#include <string>
#include <system_error>

#include "core/installed_versions.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/no_throw.h"
#include "core/path_utf8.h"

namespace kestrivon::core {
namespace {

namespace fs = std::filesystem;

bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(LongPath(path), error));
}

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(fs::symlink_status(LongPath(path), error));
}

// Moves `from` to `to`, removing what a half-finished swap left at `to` first.
bool MoveBack(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::remove_all(LongPath(to), error);
  if (!error) fs::rename(LongPath(from), LongPath(to), error);
  if (error) {
    LogFormat(LogLevel::Error, "Can't restore {} from {}: {}", PathToUtf8(to), PathToUtf8(from),
              error.message());
    return false;
  }
  return true;
}

void RestoreRuntime(const fs::path& root) {
  const fs::path runtime = root / "runtime";
  const fs::path backup = root / "temp" / runtimeBackupFolder;
  if (Exists(runtime) || !IsFile(backup / "bin" / "java.exe")) return;
  if (MoveBack(backup, runtime)) {
    LogFormat(LogLevel::Warning,
              "Restored the previous runtime from {} after an interrupted update",
              PathToUtf8(backup));
  }
}

void RestoreLauncher(const fs::path& root) {
  const fs::path backup = root / "temp" / launcherBackupFolder;
  const fs::path executable = root / launcherExecutable;
  if (Exists(executable) || !IsFile(backup / launcherExecutable)) return;
  // The old app folder may still be in place: the swap had not reached it.
  if (Exists(backup / launcherAppFolder) &&
      !MoveBack(backup / launcherAppFolder, root / launcherAppFolder)) {
    return;
  }
  if (MoveBack(backup / launcherExecutable, executable)) {
    LogFormat(LogLevel::Warning,
              "Restored the previous launcher from {} after an interrupted update",
              PathToUtf8(backup));
  }
}

fs::path MarkerPath(const fs::path& root) { return root / "temp" / updaterSwapMarker; }

void RestoreUpdaterRecord(const fs::path& root) {
  std::ifstream marker(LongPath(MarkerPath(root)), std::ios::binary);
  if (!marker) return;
  std::string previous;
  std::getline(marker, previous);
  marker.close();
  InstalledVersions record = ReadInstalledVersions(root);
  record.updaterArchiveSha256 = previous;
  if (WriteInstalledVersions(root, record)) {
    Log(LogLevel::Warning,
        "The updater's replacement didn't finish; the record names the previous updater again");
    RemoveUpdaterSwapMarker(root);
  }
}

}  // namespace

bool WriteUpdaterSwapMarker(const fs::path& root, const std::string& previousDigest) {
  std::ofstream marker(LongPath(MarkerPath(root)), std::ios::binary | std::ios::trunc);
  marker << previousDigest << '\n';
  marker.close();
  if (!marker) {
    LogFormat(LogLevel::Error, "Can't write {}", PathToUtf8(MarkerPath(root)));
    return false;
  }
  return true;
}

void RemoveUpdaterSwapMarker(const fs::path& root) {
  std::error_code ignored;
  fs::remove(LongPath(MarkerPath(root)), ignored);
}

void RestoreInterruptedInstalls(const fs::path& root) {
  CallNoThrow("Restoring interrupted installs", [&] {
    RestoreRuntime(root);
    RestoreLauncher(root);
    RestoreUpdaterRecord(root);
  });
}

}  // namespace kestrivon::core
