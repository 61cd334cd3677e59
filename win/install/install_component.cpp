#include "win/install/install_component.h"

#include <windows.h>

#include <array>
#include <functional>
#include <vector>

#include <fmt/format.h>

#include "core/escaped_text.h"
#include "core/interrupted_install.h"
#include "core/long_path.h"
#include "core/no_throw.h"
#include "win/base/text_encoding.h"
#include "win/base/unique_handle.h"
#include "win/install/expand_archive.h"
#include "win/install/expand_delta.h"
#include "win/install/kill_point.h"
#include "win/install/protected_section.h"
#include "win/log/log_file.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

using Result = std::expected<void, std::string>;

const std::wstring kLauncherExe = WideFromUtf8(core::launcherExecutable);
const std::wstring kAppFolder = WideFromUtf8(core::launcherAppFolder);

std::wstring TempPath(const std::wstring& installDir, std::string_view name) {
  return installDir + L"\\temp\\" + WideFromUtf8(name);
}

// The names at the top of `folder`; empty when it cannot be listed.
std::vector<std::pair<std::wstring, bool>> TopLevelNames(const std::wstring& folder) {
  std::vector<std::pair<std::wstring, bool>> names;
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = core::ToLongPath(folder) + L"\\*";
  const UniqueFind search(FindFirstFileW(pattern.c_str(), &found));
  if (!search) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    names.emplace_back(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileW(search.Get(), &found));
  return names;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// A launcher package brings its executable and its "app" folder, nothing else: any other name
// would land beside (or over) what the updater keeps in the install folder.
Result CheckLauncherLayout(const std::wstring& staging) {
  if (!IsRegularFile(staging + L"\\" + kLauncherExe)) {
    return std::unexpected(fmt::format("{} not found after extraction", core::launcherExecutable));
  }
  for (const auto& [name, folder] : TopLevelNames(staging)) {
    const bool own = folder ? SameName(name, kAppFolder) : SameName(name, kLauncherExe);
    if (!own) {
      return std::unexpected(
          fmt::format("launcher package holds {}, which is not part of the launcher",
                      core::EscapeText(Utf8FromWide(name))));
    }
  }
  return {};
}

// The old executable goes aside first and the new one comes in last, so an install folder
// without the executable while the backup holds one is a swap that did not finish (the next
// start puts the backup back). A failure puts everything back in reverse order.
Result SwapLauncher(const std::wstring& installDir, const std::wstring& staging,
                    const std::wstring& backup, const RetryPolicy& policy) {
  const ProtectedSection section;
  std::vector<std::wstring> asideNames;
  std::vector<std::wstring> inNames;
  const auto rollBack = [&] {
    for (auto name = inNames.rbegin(); name != inNames.rend(); ++name) {
      RemovePath(installDir + L"\\" + *name);
    }
    for (auto name = asideNames.rbegin(); name != asideNames.rend(); ++name) {
      RenameWithRetry(backup + L"\\" + *name, installDir + L"\\" + *name, policy);
    }
  };
  for (const std::wstring& name : {kLauncherExe, kAppFolder}) {
    const std::wstring current = installDir + L"\\" + name;
    if (!IsRegularFile(current) && !IsDirectory(current)) continue;
    if (const uint32_t error = RenameWithRetry(current, backup + L"\\" + name, policy)) {
      rollBack();
      return std::unexpected(fmt::format("can't move the old {} aside (in use?): {}",
                                         Utf8FromWide(name),
                                         Utf8FromWide(FormatSystemError(error))));
    }
    asideNames.push_back(name);
    InstallStep();
  }
  for (const std::wstring& name : {kAppFolder, kLauncherExe}) {
    const std::wstring fresh = staging + L"\\" + name;
    if (!IsRegularFile(fresh) && !IsDirectory(fresh)) continue;
    if (const uint32_t error = RenameWithRetry(fresh, installDir + L"\\" + name, policy)) {
      rollBack();
      return std::unexpected(fmt::format("can't move the new {} into place: {}", Utf8FromWide(name),
                                         Utf8FromWide(FormatSystemError(error))));
    }
    inNames.push_back(name);
    InstallStep();
  }
  return {};
}

// Fills the empty staging folder with the component's new files.
using StagingBuilder = std::function<Result(const std::wstring& staging)>;

StagingBuilder FromArchive(const std::wstring& archive, const std::wstring& label, int basePercent,
                           int spanPercent, bool stripTopLevelFolder) {
  return [=](const std::wstring& staging) -> Result {
    if (!ExpandArchive(archive, staging, label, basePercent, spanPercent, L"",
                       stripTopLevelFolder)) {
      return std::unexpected("extraction failed");
    }
    return {};
  };
}

// An empty staging folder filled by `build`; nothing of it is left when that fails.
Result BuildStaging(const std::wstring& staging, const StagingBuilder& build) {
  InstallStep();
  RemovePath(staging);
  EnsureDirectory(staging);
  InstallStep();
  Result built = build(staging);
  if (!built) RemovePath(staging);
  InstallStep();
  return built;
}

Result StageAndSwapRuntime(const std::wstring& installDir, const StagingBuilder& build,
                           const RetryPolicy& swapPolicy) {
  // Never built over the live runtime: staged, checked, then swapped in one rename.
  const std::wstring staging = installDir + L"\\temp\\staging-jre";
  if (Result built = BuildStaging(staging, build); !built) return built;
  if (!IsRegularFile(staging + L"\\bin\\java.exe")) {
    RemovePath(staging);
    return std::unexpected("bin\\java.exe not found after extraction");
  }
  InstallStep();
  auto replaced = ReplaceDirectory(staging, installDir + L"\\runtime",
                                   TempPath(installDir, core::runtimeBackupFolder), swapPolicy);
  if (!replaced) RemovePath(staging);
  InstallStep();
  return replaced;
}

Result StageAndSwapLauncher(const std::wstring& installDir, const StagingBuilder& build,
                            const RetryPolicy& swapPolicy) {
  // Staged and checked before anything in the install folder is touched, then swapped in.
  const std::wstring staging = installDir + L"\\temp\\staging-launcher";
  const std::wstring backup = TempPath(installDir, core::launcherBackupFolder);
  if (Result built = BuildStaging(staging, build); !built) return built;
  if (auto layout = CheckLauncherLayout(staging); !layout) {
    RemovePath(staging);
    return layout;
  }
  RemovePath(backup);  // what an earlier swap left; its start put back what was needed
  EnsureDirectory(backup);
  InstallStep();
  Result swapped = SwapLauncher(installDir, staging, backup, swapPolicy);
  RemovePath(staging);
  InstallStep();
  if (swapped) {
    RemoveOldDirectory(backup, L"launcher");
    InstallStep();
  } else {
    // Emptied by the rollback; should that have failed, the next start needs what is left.
    RemoveDirectoryW(core::ToLongPath(backup).c_str());
  }
  return swapped;
}

}  // namespace

Result InstallRuntime(const std::wstring& installDir, const std::wstring& archive, int basePercent,
                      int spanPercent, const RetryPolicy& swapPolicy) {
  return StageAndSwapRuntime(
      installDir,
      FromArchive(archive, currentUiStrings->statusInstallingJava, basePercent, spanPercent, true),
      swapPolicy);
}

Result InstallLauncher(const std::wstring& installDir, const std::wstring& archive, int basePercent,
                       int spanPercent, const RetryPolicy& swapPolicy) {
  return StageAndSwapLauncher(installDir,
                              FromArchive(archive, currentUiStrings->statusInstallingLauncher,
                                          basePercent, spanPercent, false),
                              swapPolicy);
}

Result InstallComponent(const std::wstring& installDir, core::Component component,
                        const std::wstring& archive, int basePercent, int spanPercent) noexcept {
  return core::CallNoThrow(
      "Component installation",
      [&]() -> Result {
        return component == core::Component::Jre
                   ? InstallRuntime(installDir, archive, basePercent, spanPercent)
                   : InstallLauncher(installDir, archive, basePercent, spanPercent);
      },
      Result(std::unexpected("installation failed")));
}

Result InstallComponentFromDelta(const std::wstring& installDir, core::Component component,
                                 const std::wstring& delta, int basePercent,
                                 int spanPercent) noexcept {
  return core::CallNoThrow(
      "Component installation",
      [&]() -> Result {
        const bool runtime = component == core::Component::Jre;
        // The launcher's delta names only its own files in the install folder.
        const std::wstring installed = runtime ? installDir + L"\\runtime" : installDir;
        const std::wstring label = runtime ? currentUiStrings->statusInstallingJava
                                           : currentUiStrings->statusInstallingLauncher;
        const StagingBuilder build = [&](const std::wstring& staging) {
          return ExpandDelta(installed, delta, staging, label, basePercent, spanPercent);
        };
        return runtime ? StageAndSwapRuntime(installDir, build, kRuntimeSwapPolicy)
                       : StageAndSwapLauncher(installDir, build, kRuntimeSwapPolicy);
      },
      Result(std::unexpected("installation failed")));
}

}  // namespace kestrivon::win
