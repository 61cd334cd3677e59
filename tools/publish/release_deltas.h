#pragma once

// The deltas of a release: made from each earlier release given for each component whose
// package changed, kept only when they save at least a quarter of the package, and checked as
// the updater will use them, applied to the earlier version and compared with the new one.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/update_records.h"

namespace kestrivon::publish {

// A delta that saves less than this share of its package is not published.
inline constexpr double kMinDeltaSaving = 0.25;

struct DeltaRequest {
  std::string component;          // "launcher" or "jre"
  std::string version;            // the new package's
  std::filesystem::path package;  // the new package, already in the release
  std::string sha256;             // the new package's
  uint64_t size = 0;
  std::vector<std::filesystem::path> previous;  // release folders, newest first
};

struct MadeDelta {
  core::DeltaInfo info{};
  std::string fromVersion{};
  std::string path{};  // relative to the release folder
  uint64_t copied = 0;
  uint64_t patched = 0;
  uint64_t whole = 0;
  double seconds = 0;
};

struct DeltaOutcome {
  std::vector<MadeDelta> made{};
  std::vector<std::string> skipped{};  // why an earlier release got no delta
};

// Writes the deltas next to the package in `site` (named "{component}-{version}-delta-{first
// 12 digits of the source's SHA-256}-{first 12 of its own}.zip") under the URL prefix of
// `packageUrl`. Uses `scratch` for extractions.
std::expected<DeltaOutcome, std::string> MakeDeltas(const DeltaRequest& request,
                                                    const std::filesystem::path& site,
                                                    std::string_view packageUrl,
                                                    const std::filesystem::path& scratch);

// Checks one delta of a manifest entry in the release `root`: size and SHA-256, then, when one
// of the `previous` releases has the package it starts from, applied to that package's
// extraction and compared file by file with `extracted` (the entry's own package, extracted).
// True when it was applied, false when its source was not at hand.
std::expected<bool, std::string> CheckDelta(const std::filesystem::path& root,
                                            std::string_view component,
                                            const core::DeltaInfo& delta,
                                            const std::filesystem::path& extracted,
                                            const std::vector<std::filesystem::path>& previous,
                                            const std::filesystem::path& scratch);

// The updater's extraction of a package: the runtime without its top-level folder.
std::expected<void, std::string> ExtractAsInstalled(std::string_view component,
                                                    const std::filesystem::path& package,
                                                    const std::filesystem::path& folder);

}  // namespace kestrivon::publish
