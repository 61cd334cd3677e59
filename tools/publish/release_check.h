#pragma once

// Checks a release folder the way the updater will take it: the manifest through the engine's
// own parser and entry rules, every package by size and SHA-256, and every package extracted
// by the updater's own extractor with the options the updater uses for that component.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/update_records.h"

namespace kestrivon::publish {

// Where the updater reads its manifest, relative to the server's root.
inline constexpr std::string_view kManifestPath = "launcher/launcher-manifest.json";
// The updater reads at most this much of the manifest.
inline constexpr uint64_t kMaxManifestBytes = 5'242'880;

struct CheckedPackage {
  std::string component{};  // "launcher", "jre", "updater": the manifest's key
  core::UpdateInfo entry{};
  std::filesystem::path file{};
  uint64_t extractedFiles = 0;
  double hashSeconds = 0;
  double extractSeconds = 0;
  uint64_t deltasApplied = 0;    // applied to their source release and compared
  uint64_t deltasUnchecked = 0;  // checked by size and digest only: no source at hand
};

struct CheckOptions {
  // Each package is extracted into a fresh folder below; removed afterwards.
  std::filesystem::path scratch;
  std::string updaterName;  // the installed updater's file name
  // Earlier releases: a delta whose source package is among them is applied to it.
  std::vector<std::filesystem::path> previous;
  // Told of each extraction before its folder is removed; an error refuses the release.
  std::function<std::expected<void, std::string>(std::string_view component,
                                                 const std::filesystem::path& extracted)>
      inspect;
  std::ostream* progress = nullptr;  // progress lines, when set
  bool progressIsTerminal = false;
};

// The local file of a package URL on the CDN host: the URL's path below `root`.
std::expected<std::filesystem::path, std::string> LocalFileOf(const std::filesystem::path& root,
                                                              std::string_view url);

// Nothing in `root` is changed. The first refusal ends the check with its reason.
std::expected<std::vector<CheckedPackage>, std::string> CheckRelease(
    const std::filesystem::path& root, const CheckOptions& options);

}  // namespace kestrivon::publish
