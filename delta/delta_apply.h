#pragma once

// Builds the new version of a component in an empty staging folder from the installed copy
// and a downloaded, already verified delta package (format in delta_list.h): unchanged files
// copied, changed files patched, new files extracted, every input and every output checked by
// size and SHA-256 against the package's list. Portable: files go through the extractor's
// layer (long paths on Windows).

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <string>

#include "core/update_records.h"

namespace kestrivon::delta {

struct ApplyOptions {
  // (files made so far, files in the list), on the caller's thread.
  core::ProgressCallback progress;
  // Polled before each file, on the caller's thread.
  std::function<bool()> cancelled;
};

struct ApplyReport {
  uint64_t copied = 0;
  uint64_t patched = 0;
  uint64_t whole = 0;
  uint64_t bytes = 0;  // of every file made
};

// `installed`: the component's folder as installed (the runtime folder, or the install
// folder for the launcher, whose list names only its own files). `staging` is created when
// missing and should be empty. Reads `installed` and `delta`, writes only below `staging`.
//
// Fails with a short English text for the log, naming the file concerned; among them:
// "can't read {}", "not a valid ZIP archive: {}", "delta has no file list",
// "malformed delta list...", "unknown delta format \"{}\"", "unsafe path in delta list: {}",
// "reserved name in delta list: {}", "conflicting path in delta list: {}",
// "unsafe entry path in delta: {}", "delta holds {}, which its list does not name",
// "delta lacks {}", "installed copy lacks {}", "installed {} is not the version the delta
// was made from", "patch for {}: {}" (corrupt, too long, ends early, huge window),
// "{} comes out with sha256 {} instead of {}", "{} comes out with {} bytes instead of {}",
// "can't create {}: {}", "can't write {}", "cancelled", and the extractor's limit texts.
// After a failure `staging` holds whatever was made so far: the caller deletes it and
// installs the full package instead.
std::expected<ApplyReport, std::string> ApplyDelta(const std::filesystem::path& installed,
                                                   const std::filesystem::path& delta,
                                                   const std::filesystem::path& staging,
                                                   const ApplyOptions& options);

}  // namespace kestrivon::delta
