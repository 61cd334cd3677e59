#pragma once

// What goes into a package: a folder's files and folders, named as the updater will see them,
// with everything refused up front that the updater or Windows would refuse or lose.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrivon::publish {

inline constexpr std::string_view kLauncherExecutable = "KestrivonLauncher.exe";
inline constexpr std::string_view kDefaultUpdaterName = "KestrivonUpdater.exe";

struct InputEntry {
  std::string name{};              // entry path, '/'-separated, UTF-8, no trailing '/'
  std::filesystem::path source{};  // the file or folder on disk
  bool directory = false;
  uint64_t size = 0;
};

struct InputTree {
  std::vector<InputEntry> entries;  // sorted by name, byte-wise
  uint64_t files = 0;
  uint64_t bytes = 0;
  // Operating-system litter (Thumbs.db, .DS_Store, ...) that the updater skips anyway.
  std::vector<std::string> leftOut;
};

// A name Windows can create: no reserved characters, no trailing dot or space, no device name.
bool IsValidWindowsName(std::string_view component);

// Everything below `root`, each name prefixed with `prefix` + '/' when `prefix` is not empty.
// Refuses links and special files, names Windows cannot hold or that differ only in letter
// case, names the updater's extractor would skip, and sizes over its limits.
std::expected<InputTree, std::string> CollectTree(const std::filesystem::path& root,
                                                  std::string_view prefix);

// The launcher folder: KestrivonLauncher.exe at its top, laid out as in the install folder.
std::expected<InputTree, std::string> CollectLauncher(const std::filesystem::path& folder);

// The runtime folder: bin/java.exe at its top or under its only folder. Packed under exactly
// one top-level folder (the input's own, or "runtime"), which the updater strips.
std::expected<InputTree, std::string> CollectRuntime(const std::filesystem::path& folder);

// The updater executable, packed as `name` (the file name of the installed updater).
std::expected<InputTree, std::string> CollectUpdater(const std::filesystem::path& file,
                                                     std::string_view name);

}  // namespace kestrivon::publish
