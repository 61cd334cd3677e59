#pragma once

// The file-system toolkit of the Windows host: removal, directory creation, type tests, a
// rename that waits out a passing lock, and the replacement of a directory with a backup and
// rollback. Every path is handed to the system in its long-path form.

#include <cstdint>
#include <expected>
#include <string>

namespace kestrivon::win {

struct RetryPolicy {
  int32_t attempts = 1;  // at least 1
  int64_t delayMilliseconds = 0;
};

// A virus scanner or a running java.exe holds the runtime for a few seconds at most.
inline constexpr RetryPolicy kRuntimeSwapPolicy{20, 250};

// Removes a file, an empty directory or a whole tree. A missing path counts as success;
// links and junctions inside a tree are removed, never followed.
bool RemovePath(const std::wstring& path);

// Creates `path` with its missing ancestors; true when something exists there afterwards.
bool EnsureDirectory(const std::wstring& path);

// Follow links and junctions; any error counts as false.
bool IsDirectory(const std::wstring& path);
bool IsRegularFile(const std::wstring& path);

// Renames with replace-existing and copy-allowed, retrying while the source exists. Returns
// 0 or the last system error code.
uint32_t RenameWithRetry(const std::wstring& from, const std::wstring& to,
                         const RetryPolicy& policy);

// Moves `target` aside to `backup`, `staged` into its place and deletes the backup. On a
// failed second move the old target is moved back. The error is UTF-8 text for the log.
std::expected<void, std::string> ReplaceDirectory(const std::wstring& staged,
                                                  const std::wstring& target,
                                                  const std::wstring& backup,
                                                  const RetryPolicy& policy);

// Removes the directory at `path` if there is one and logs the outcome, naming it by
// `label`; false (after a WARN line) when it stays.
bool RemoveOldDirectory(const std::wstring& path, const std::wstring& label);

// The launcher's "app" folder under the install directory.
bool RemoveOldLauncherApp(const std::wstring& installDir);

}  // namespace kestrivon::win
