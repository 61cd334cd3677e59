#include "core/workspace.h"

#include <system_error>

#include "core/link_probe.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/path_utf8.h"

namespace kestrivon::core {
namespace {

bool IsRealDirectory(const std::filesystem::path& path) {
  std::error_code error;
  return !IsLinkOrJunction(path) &&
         std::filesystem::is_directory(std::filesystem::symlink_status(path, error));
}

// The standard library on Windows retries a failed folder removal as a file deletion and so
// reports "access denied" where the system said "not empty"; the folder itself tells.
bool IsNonEmptyFolder(const std::filesystem::path& path) {
  std::error_code error;
  return IsRealDirectory(path) && !std::filesystem::is_empty(path, error) && !error;
}

// Removes a folder tree bottom-up. Links (and junctions) inside are removed as links, never
// followed, so nothing outside the tree is touched. Stops at the first error. The engine's
// own removal, in portable terms so that the clean-up is tested natively; the Windows side
// has its own (RemovePath in win/install/file_ops), which also clears read-only attributes
// and keeps going past a locked file, as installing over a live folder needs.
void RemoveTree(const std::filesystem::path& folder, std::error_code& error) {
  std::filesystem::directory_iterator it(folder, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::filesystem::path child = it->path();
    if (IsRealDirectory(child)) {
      RemoveTree(child, error);
    } else {
      std::filesystem::remove(child, error);
    }
  }
  if (!error) std::filesystem::remove(folder, error);
}

}  // namespace

void CleanWorkspace(const std::filesystem::path& root) {
  const std::filesystem::path folder = LongPath(root / "temp");

  // A "temp" that is missing, a link, a junction or a plain file is left alone.
  std::error_code error;
  const auto status = std::filesystem::symlink_status(folder, error);
  if (error || IsLinkOrJunction(folder) || !std::filesystem::is_directory(status)) return;

  std::filesystem::directory_iterator it(folder, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::filesystem::path entry = it->path();
    std::error_code removeError;
    std::filesystem::remove(entry, removeError);
    if (removeError && IsNonEmptyFolder(entry)) {
      removeError.clear();
      RemoveTree(entry, removeError);
    }
    if (removeError) {
      LogFormat(LogLevel::Warning, "Can't remove {}: {}", PathToUtf8(entry), removeError.message());
    }
  }
  // Listing the folder failed part-way: the rest waits for the next run's clean-up.
  if (error) LogFormat(LogLevel::Warning, "Can't list {}: {}", PathToUtf8(folder), error.message());
}

}  // namespace kestrivon::core
