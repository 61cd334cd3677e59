#pragma once

// Whether a folder may be the install folder. The updater empties its "temp" and replaces its
// "app" and "runtime": a drive root, a share root or one of the system's own folders would
// lose whatever of that name is already there.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrivon::core {

enum class InstallFolderProblem : uint8_t {
  None = 0,
  NotFullPath = 1,   // relative, drive-relative, a device path, or with "." or ".." in it
  DriveRoot = 2,     // "D:\"
  ShareRoot = 3,     // "\\server\share"
  SystemFolder = 4,  // one of `systemFolders` itself (their subfolders are fine)
};

// `path` and `systemFolders` are UTF-8 Windows paths. Letter case counts only outside ASCII,
// and Windows' trailing dots and spaces of a component do not count at all.
InstallFolderProblem CheckInstallFolder(std::string_view path,
                                        std::span<const std::string> systemFolders);

// The problem in words for the log: "a drive root", ...; empty for None.
std::string_view InstallFolderProblemText(InstallFolderProblem problem);

}  // namespace kestrivon::core
