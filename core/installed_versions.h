#pragma once

// The installed-version record, config/versions.json under the install root.

#include <filesystem>
#include <string>
#include <string_view>

#include "core/update_records.h"

namespace kestrivon::core {

std::filesystem::path VersionsFilePath(const std::filesystem::path& root);

// Never fails: whatever cannot be read is empty.
InstalledVersions ReadInstalledVersions(const std::filesystem::path& root);

// Writes a temporary file beside the record and renames it over the record, so readers
// see the old or the new record, never a partial one. Failures are logged.
[[nodiscard]] bool WriteInstalledVersions(const std::filesystem::path& root,
                                          const InstalledVersions& record);

InstalledVersions ParseInstalledVersions(std::string_view text);

// The file text without its final line feed.
std::string SerializeInstalledVersions(const InstalledVersions& record);

}  // namespace kestrivon::core
