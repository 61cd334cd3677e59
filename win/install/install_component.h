#pragma once

// Puts a downloaded and verified component archive in place under the install directory:
// the Java runtime through a staging folder and a swap with backup and rollback, so that a
// failed update leaves the previous runtime working; the launcher likewise, its executable
// and "app" folder staged in "temp" and swapped with the old ones.

#include <expected>
#include <string>

#include "core/update_records.h"
#include "win/install/file_ops.h"

namespace kestrivon::win {

// Errors are UTF-8 texts for the engine's log.
std::expected<void, std::string> InstallComponent(const std::wstring& installDir,
                                                  core::Component component,
                                                  const std::wstring& archive, int basePercent,
                                                  int spanPercent) noexcept;

// The same roads, the staging folder built from the installed copy and a verified delta
// instead of extracted from a package.
std::expected<void, std::string> InstallComponentFromDelta(const std::wstring& installDir,
                                                           core::Component component,
                                                           const std::wstring& delta,
                                                           int basePercent,
                                                           int spanPercent) noexcept;

// The runtime road; `swapPolicy` lets tests wait less.
std::expected<void, std::string> InstallRuntime(const std::wstring& installDir,
                                                const std::wstring& archive, int basePercent,
                                                int spanPercent,
                                                const RetryPolicy& swapPolicy = kRuntimeSwapPolicy);

// The launcher road: only KestrivonLauncher.exe and app\** are taken from the package.
std::expected<void, std::string> InstallLauncher(
    const std::wstring& installDir, const std::wstring& archive, int basePercent, int spanPercent,
    const RetryPolicy& swapPolicy = kRuntimeSwapPolicy);

}  // namespace kestrivon::win
