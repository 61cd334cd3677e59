#include "core/install_folder.h"

#include <algorithm>
#include <vector>

#include "core/ascii.h"
#include "core/path_text.h"

namespace kestrivon::core {
namespace {

// The non-empty components, each without the trailing dots and spaces Windows drops.
std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> components;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    std::string_view component = path.substr(start, end - start);
    const bool dots = component == "." || component == "..";
    while (!dots && !component.empty() && (component.back() == '.' || component.back() == ' ')) {
      component.remove_suffix(1);
    }
    if (!component.empty()) components.push_back(component);
    start = end + 1;
  }
  return components;
}

bool SameFolder(std::string_view a, std::string_view b) {
  const std::vector<std::string_view> left = Components(a);
  const std::vector<std::string_view> right = Components(b);
  return !left.empty() && left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(), EqualsIgnoringAsciiCase);
}

}  // namespace

InstallFolderProblem CheckInstallFolder(std::string_view path,
                                        std::span<const std::string> systemFolders) {
  const bool drive =
      path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && path[2] == '\\';
  const bool share = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
  if (!drive && !share) return InstallFolderProblem::NotFullPath;
  // "\\?\" and "\\.\" name devices and namespaces, not a place on a disk we could judge.
  if (share && path.size() >= 3 && (path[2] == '?' || path[2] == '.')) {
    return InstallFolderProblem::NotFullPath;
  }
  const std::vector<std::string_view> components = Components(path);
  if (std::any_of(components.begin(), components.end(),
                  [](std::string_view c) { return c == "." || c == ".."; })) {
    return InstallFolderProblem::NotFullPath;
  }
  if (drive && components.size() < 2) return InstallFolderProblem::DriveRoot;
  if (share && components.size() < 3) return InstallFolderProblem::ShareRoot;
  if (std::any_of(systemFolders.begin(), systemFolders.end(),
                  [&](const std::string& folder) { return SameFolder(path, folder); })) {
    return InstallFolderProblem::SystemFolder;
  }
  return InstallFolderProblem::None;
}

std::string_view InstallFolderProblemText(InstallFolderProblem problem) {
  switch (problem) {
    case InstallFolderProblem::None:
      break;
    case InstallFolderProblem::NotFullPath:
      return "not a full path";
    case InstallFolderProblem::DriveRoot:
      return "a drive root";
    case InstallFolderProblem::ShareRoot:
      return "a network share root";
    case InstallFolderProblem::SystemFolder:
      return "a system folder";
  }
  return {};
}

}  // namespace kestrivon::core
