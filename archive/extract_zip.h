#pragma once

// Safe extraction of a downloaded ZIP archive into one folder: nothing is written outside
// it, and sizes, entry count, path lengths and compression ratios are limited.

#include <expected>
#include <filesystem>
#include <functional>
#include <string>

#include "archive/entry_path.h"
#include "core/update_records.h"

namespace kestrivon::archive {

struct ExtractOptions {
  // When not empty, extract only the first file whose last path component matches it
  // (ASCII case-insensitive), straight into the destination folder.
  std::string onlyFile;
  // Drop one top-level folder that holds every entry.
  bool stripTopLevelFolder = false;
  // (files written so far, number of accepted entries, directories included)
  core::ProgressCallback progress;
  // Polled before each entry.
  std::function<bool()> cancelled;
};

// Fails with a short English text for the log. Deletes nothing: after a failure, whatever
// was written stays for the caller to clean up. Worker thread; blocks for the whole run.
std::expected<void, std::string> ExtractZip(const std::filesystem::path& archive,
                                            const std::filesystem::path& destination,
                                            const ExtractOptions& options);

}  // namespace kestrivon::archive
