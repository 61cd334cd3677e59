#pragma once

// The Windows host's front to the safe ZIP extractor: wide paths in, the user's cancellation
// and the window's progress wired in, the reason of a failure written to the log.

#include <string>

#include "core/update_records.h"

namespace kestrivon::win {

// Progress of writing a component's files: `label` with the percentage of files written, on
// the window's bar between `base` and `base + span` (every 50th file and the last one).
core::ProgressCallback InstallProgress(const std::wstring& label, int base, int span);

// Extracts `archive` into `destination`, showing `label` with the percentage of files
// written on the window's bar between `base` and `base + span`. `onlyFile` (when not empty)
// takes just the first file of that name, straight into `destination`. False after an
// "[ERROR] Extraction failed: ..." line; whatever was written stays for the caller.
bool ExpandArchive(const std::wstring& archive, const std::wstring& destination,
                   const std::wstring& label, int base, int span, const std::wstring& onlyFile,
                   bool stripTopLevelFolder) noexcept;

}  // namespace kestrivon::win
