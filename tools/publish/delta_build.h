#pragma once

// Makes a delta package (format in delta/delta_list.h) that turns one installed tree of a
// component into the next: unchanged files are named only, changed files become zstd
// patches against their old selves, new files are carried whole.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>

namespace kestrivon::publish {

struct DeltaBuildReport {
  uint64_t copied = 0;
  uint64_t patched = 0;
  uint64_t whole = 0;
  uint64_t size = 0;  // of the package written
};

// The zstd frame that rebuilds `fresh` with `old` as its prefix (zstd's --patch-from): level
// 19, long-distance matching, the window of PatchWindowLog. The updater's decoder accepts it.
std::expected<std::string, std::string> MakePatch(std::span<const uint8_t> old,
                                                  std::span<const uint8_t> fresh);

// Both trees as the updater installs them (the runtime without its top-level folder).
// Overwrites `output`.
std::expected<DeltaBuildReport, std::string> BuildDelta(const std::filesystem::path& oldTree,
                                                        const std::filesystem::path& newTree,
                                                        const std::filesystem::path& output);

}  // namespace kestrivon::publish
