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
  // (files written so far, number of accepted entries, directories included); on the
  // caller's thread, once for every count, in order.
  core::ProgressCallback progress;
  // Polled before each entry, on the caller's thread.
  std::function<bool()> cancelled;
  // Threads that inflate and write files; 0: one per core, 2 to 4; 1: none, the caller's
  // thread writes each file itself.
  unsigned workers = 0;
};

// Fails with a short English text for the log. Deletes nothing: after a failure, whatever
// was written stays for the caller to clean up. Worker thread; blocks for the whole run.
// Files are written by a few threads at once, yet the checks, the folders and the creation of
// each file happen in entry order, and of several failures the earliest entry's is reported.
std::expected<void, std::string> ExtractZip(const std::filesystem::path& archive,
                                            const std::filesystem::path& destination,
                                            const ExtractOptions& options);

}  // namespace kestrivon::archive
