#include "tools/publish/package_input.h"

#include <algorithm>
#include <array>
#include <map>
#include <system_error>

#include <fmt/format.h>

#include "archive/entry_path.h"
#include "archive/extract_limits.h"
#include "core/ascii.h"
#include "core/escaped_text.h"
#include "core/path_utf8.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;
using Result = std::expected<InputTree, std::string>;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = core::AsciiLower(c);
  return lower;
}

bool IsRegularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(fs::symlink_status(path, error)) && !error;
}

// The entry's name as the extractor will normalize it; refusals for what it would not keep.
std::expected<bool, std::string> AdmitName(const std::string& name) {
  if (!archive::IsUtf8PathText(name)) {
    return std::unexpected(fmt::format("{} is not a UTF-8 name", core::EscapeText(name)));
  }
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find('/', start), name.size());
    const std::string_view component(name.data() + start, end - start);
    if (!IsValidWindowsName(component)) {
      return std::unexpected(
          fmt::format("{} is not a valid file name on Windows", core::EscapeText(name)));
    }
    start = end + 1;
  }
  std::string normalized;
  switch (archive::NormalizeEntryPath(name, normalized)) {
    case archive::EntryPathVerdict::Accept:
      return true;
    case archive::EntryPathVerdict::Skip: {
      // Litter is dropped quietly; anything else skipped would be missing after the install.
      size_t from = 0;
      while (from <= name.size()) {
        const size_t to = std::min(name.find('/', from), name.size());
        if (archive::IsJunkName(Lower(std::string_view(name).substr(from, to - from)))) {
          return false;
        }
        from = to + 1;
      }
      return std::unexpected(
          fmt::format("{} would be left out by the updater, which skips such names", name));
    }
    case archive::EntryPathVerdict::Unsafe:
    case archive::EntryPathVerdict::Unusable:
      break;
  }
  return std::unexpected(fmt::format("{} is not a safe entry name", name));
}

}  // namespace

bool IsValidWindowsName(std::string_view component) {
  if (component.empty() || component.back() == '.' || component.back() == ' ') return false;
  if (component.find_first_of(":/\\") != std::string_view::npos) return false;
  return !archive::IsUnusableWindowsName(component);
}

Result CollectTree(const fs::path& root, std::string_view prefix) {
  const std::string rootText = core::PathToUtf8(root);
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    return std::unexpected(fmt::format("{} is not a folder", rootText));
  }
  InputTree tree;
  archive::EntryLimits limits;
  if (!prefix.empty()) {
    tree.entries.push_back({.name = std::string(prefix), .source = root, .directory = true});
  }
  fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::directory_entry& item = *it;
    const std::string relative = core::PathToUtf8(item.path().lexically_relative(root));
    const std::string name = prefix.empty() ? relative : fmt::format("{}/{}", prefix, relative);
    const fs::file_status status = item.symlink_status(error);
    if (error) break;
    if (fs::is_symlink(status)) {
      return std::unexpected(fmt::format(
          "{} is a symbolic link; packages hold only plain files and folders", relative));
    }
    const bool directory = fs::is_directory(status);
    if (!directory && !fs::is_regular_file(status)) {
      return std::unexpected(fmt::format("{} is neither a file nor a folder", relative));
    }
    auto admitted = AdmitName(name);
    if (!admitted) return std::unexpected(std::move(admitted.error()));
    if (!*admitted) {
      tree.leftOut.push_back(name);
      if (directory) it.disable_recursion_pending();
      continue;
    }
    InputEntry entry{.name = name, .source = item.path(), .directory = directory};
    if (!directory) {
      entry.size = item.file_size(error);
      if (error) break;
      // Compressed size 0: the ratio is checked on the packed archive, not here.
      if (auto admittedSize = limits.Admit(name, 0, entry.size); !admittedSize) {
        return std::unexpected(std::move(admittedSize.error()));
      }
      ++tree.files;
      tree.bytes += entry.size;
    }
    tree.entries.push_back(std::move(entry));
  }
  if (error) return std::unexpected(fmt::format("can't read {}: {}", rootText, error.message()));
  if (auto counted = archive::CheckEntryCount(tree.entries.size(), rootText); !counted) {
    return std::unexpected(std::move(counted.error()));
  }
  std::sort(tree.entries.begin(), tree.entries.end(),
            [](const InputEntry& a, const InputEntry& b) { return a.name < b.name; });
  std::map<std::string, std::string> folded;  // lower-cased name -> name
  for (const InputEntry& entry : tree.entries) {
    const auto [clash, fresh] = folded.emplace(Lower(entry.name), entry.name);
    if (!fresh) {
      return std::unexpected(fmt::format(
          "{} and {} differ only in letter case; on Windows one would replace the other",
          clash->second, entry.name));
    }
  }
  return tree;
}

Result CollectLauncher(const fs::path& folder) {
  auto tree = CollectTree(folder, "");
  if (!tree) return tree;
  if (!IsRegularFile(folder / kLauncherExecutable)) {
    return std::unexpected(fmt::format("launcher folder {} has no {} at its top",
                                       core::PathToUtf8(folder), kLauncherExecutable));
  }
  return tree;
}

Result CollectRuntime(const fs::path& folder) {
  const std::string folderText = core::PathToUtf8(folder);
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    return std::unexpected(fmt::format("{} is not a folder", folderText));
  }
  const fs::path java = fs::path("bin") / "java.exe";
  if (IsRegularFile(folder / java)) return CollectTree(folder, "runtime");

  // Otherwise the runtime must sit in the folder's only entry (litter aside), as vendors
  // ship it: the updater strips a single top-level folder and nothing else.
  std::vector<fs::path> top;
  for (const auto& item : fs::directory_iterator(folder, error)) {
    if (!archive::IsJunkName(Lower(core::PathToUtf8(item.path().filename())))) {
      top.push_back(item.path());
    }
  }
  std::sort(top.begin(), top.end());
  const auto holder = std::find_if(
      top.begin(), top.end(), [&](const fs::path& entry) { return IsRegularFile(entry / java); });
  if (holder == top.end()) {
    return std::unexpected(
        fmt::format("runtime folder {} has no bin/java.exe, neither at its top nor under a single "
                    "top-level folder",
                    folderText));
  }
  if (top.size() > 1) {
    return std::unexpected(fmt::format(
        "runtime folder {} holds bin/java.exe under {} but {} entries at its top; the updater "
        "strips only a single top-level folder",
        folderText, core::PathToUtf8(holder->filename()), top.size()));
  }
  return CollectTree(*holder, core::PathToUtf8(holder->filename()));
}

Result CollectUpdater(const fs::path& file, std::string_view name) {
  const std::string fileText = core::PathToUtf8(file);
  if (name.empty() || name.find('/') != std::string_view::npos || !IsValidWindowsName(name)) {
    return std::unexpected(fmt::format("updater name \"{}\" is not a Windows file name", name));
  }
  std::error_code error;
  if (!fs::is_regular_file(file, error)) {
    return std::unexpected(fmt::format("updater {} is not a file", fileText));
  }
  const uint64_t size = fs::file_size(file, error);
  if (error || size == 0) return std::unexpected(fmt::format("updater {} is empty", fileText));
  archive::EntryLimits limits;
  if (auto admitted = limits.Admit(name, 0, size); !admitted) {
    return std::unexpected(std::move(admitted.error()));
  }
  InputTree tree;
  tree.entries.push_back({.name = std::string(name), .source = file, .size = size});
  tree.files = 1;
  tree.bytes = size;
  return tree;
}

}  // namespace kestrivon::publish
