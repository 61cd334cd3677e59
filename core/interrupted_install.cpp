#include "core/interrupted_install.h"

#include <system_error>

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

}  // namespace

void RestoreInterruptedInstalls(const fs::path& root) {
  CallNoThrow("Restoring interrupted installs", [&] {
    RestoreRuntime(root);
    RestoreLauncher(root);
  });
}

}  // namespace kestrivon::core
