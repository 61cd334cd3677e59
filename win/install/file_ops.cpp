#include "win/install/file_ops.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "core/long_path.h"
#include "core/path_text.h"
#include "win/base/text_encoding.h"
#include "win/base/unique_handle.h"
#include "win/install/kill_point.h"
#include "win/install/protected_section.h"
#include "win/log/log_file.h"

namespace kestrivon::win {
namespace {

namespace handle_traits {
struct Find : win::handle_traits::File {
  static void Close(Value value) noexcept { FindClose(value); }
};
}  // namespace handle_traits
using UniqueFind = UniqueResource<handle_traits::Find>;

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool Exists(const std::wstring& longPath) {
  return GetFileAttributesW(longPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The path without its last component and the separators before it.
std::wstring ParentOf(const std::wstring& path) {
  size_t end = path.find_last_of(L"\\/");
  if (end == std::wstring::npos) return {};
  while (end > 0 && core::IsPathSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

// One file, link or empty directory; a link to a directory is removed as a link. Read-only
// files go too: a runtime may ship some, and they must not pin its backup.
bool RemoveEntry(const std::wstring& longPath, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryW(longPath.c_str()) != 0;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(longPath.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  return DeleteFileW(longPath.c_str()) != 0;
}

// Depth first; never descends through a link or junction, so nothing outside the tree is
// touched. Keeps going after a failure so that as much as possible is gone. Beside the
// engine's portable removal of "temp" (core/workspace) because installing needs what the
// standard library cannot do: read-only files cleared and removal past a locked file.
bool RemoveTree(const std::wstring& longPath) {
  std::vector<std::pair<std::wstring, DWORD>> children;
  WIN32_FIND_DATAW found{};
  UniqueFind find(FindFirstFileExW((longPath + L"\\*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0));
  if (!find) return false;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    children.emplace_back(longPath + L"\\" + found.cFileName, found.dwFileAttributes);
  } while (FindNextFileW(find.Get(), &found));
  find.Reset();

  bool removed = true;
  for (const auto& [child, attributes] : children) {
    const bool realDirectory =
        (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    removed = (realDirectory ? RemoveTree(child) : RemoveEntry(child, attributes)) && removed;
  }
  return RemoveDirectoryW(longPath.c_str()) != 0 && removed;
}

// Attributes of what the path finally names, links and junctions followed.
std::optional<DWORD> FollowedAttributes(const std::wstring& path) {
  if (path.empty()) return std::nullopt;
  const UniqueFile file(CreateFileW(core::ToLongPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!file || !GetFileInformationByHandle(file.Get(), &information)) return std::nullopt;
  return information.dwFileAttributes;
}

std::string SystemText(uint32_t error) { return Utf8FromWide(FormatSystemError(error)); }

}  // namespace

bool RemovePath(const std::wstring& path) {
  if (path.empty()) return false;
  const std::wstring longPath = core::ToLongPath(path);
  const DWORD attributes = GetFileAttributesW(longPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return IsMissing(GetLastError());
  if (RemoveEntry(longPath, attributes)) return true;
  return GetLastError() == ERROR_DIR_NOT_EMPTY && RemoveTree(longPath);
}

bool EnsureDirectory(const std::wstring& path) {
  if (path.empty()) return false;
  const std::wstring longPath = core::ToLongPath(path);
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(longPath), ignored);
  // Whatever is there now (even a file) counts: the caller's next step will tell.
  return Exists(longPath);
}

bool IsDirectory(const std::wstring& path) {
  const std::optional<DWORD> attributes = FollowedAttributes(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const std::wstring& path) {
  const std::optional<DWORD> attributes = FollowedAttributes(path);
  return attributes && !(*attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint32_t RenameWithRetry(const std::wstring& from, const std::wstring& to,
                         const RetryPolicy& policy) {
  const std::wstring source = core::ToLongPath(from);
  const std::wstring destination = core::ToLongPath(to);
  const int32_t attempts = std::max(policy.attempts, int32_t{1});
  DWORD error = ERROR_GEN_FAILURE;
  for (int32_t attempt = 1; attempt <= attempts; ++attempt) {
    if (MoveFileExW(source.c_str(), destination.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      return 0;
    }
    if (const DWORD last = GetLastError(); last != 0) error = last;
    // Only a source that is certainly there is worth waiting for: a vanished one will not
    // come back, and one whose existence cannot be read (its parent denied) will not clear.
    if (!Exists(source)) return error;
    if (attempt < attempts) {
      std::this_thread::sleep_for(std::chrono::milliseconds(policy.delayMilliseconds));
    }
  }
  return error;
}

std::expected<void, std::string> ReplaceDirectory(const std::wstring& staged,
                                                  const std::wstring& target,
                                                  const std::wstring& backup,
                                                  const RetryPolicy& policy) {
  RemovePath(backup);  // a stale backup of an interrupted run would block the move aside
  EnsureDirectory(ParentOf(target));
  InstallStep();
  const std::string name = Utf8FromWide(std::wstring(core::LastPathComponent(target)));

  // Between the two moves the target is missing: the program's own exit waits, and a kill
  // is undone at the next start from the backup.
  const ProtectedSection section;
  const bool targetExisted = Exists(core::ToLongPath(target));
  if (targetExisted) {
    if (const uint32_t error = RenameWithRetry(target, backup, policy); error != 0) {
      return std::unexpected(
          fmt::format("can't move the old {} aside (in use?): {}", name, SystemText(error)));
    }
    InstallStep();
  }
  if (const uint32_t error = RenameWithRetry(staged, target, policy); error != 0) {
    std::string message =
        fmt::format("can't move the new {} into place: {}", name, SystemText(error));
    // Should this fail too, the old one waits at the backup path until the next attempt.
    if (targetExisted) RenameWithRetry(backup, target, policy);
    return std::unexpected(std::move(message));
  }
  InstallStep();
  RemovePath(backup);
  return {};
}

bool RemoveOldDirectory(const std::wstring& path, const std::wstring& label) {
  try {
    if (!IsDirectory(path)) return true;
    if (RemovePath(path)) {
      WriteLogLine(L"[INFO] Removed old " + label + L" directory: " + path);
      return true;
    }
    WriteLogLine(L"[WARN] Failed to remove old " + label + L" directory: " + path);
    return false;
  } catch (...) {
    WriteLogLine(L"[WARN] Failed to remove old " + label + L" directory");
    return false;
  }
}

bool RemoveOldLauncherApp(const std::wstring& installDir) {
  return RemoveOldDirectory(installDir + L"\\app", L"launcher app");
}

}  // namespace kestrivon::win
