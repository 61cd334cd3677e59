#include "win/install/install_component.h"

#include "core/no_throw.h"
#include "win/install/expand_archive.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {

std::expected<void, std::string> InstallRuntime(const std::wstring& installDir,
                                                const std::wstring& archive, int basePercent,
                                                int spanPercent, const RetryPolicy& swapPolicy) {
  // Never extracted over the live runtime: staged, checked, then swapped in one rename.
  const std::wstring staging = installDir + L"\\temp\\staging-jre";
  RemovePath(staging);
  EnsureDirectory(staging);

  if (!ExpandArchive(archive, staging, currentUiStrings->statusInstallingJava, basePercent,
                     spanPercent, L"", true)) {
    RemovePath(staging);
    return std::unexpected("extraction failed");
  }
  if (!IsRegularFile(staging + L"\\bin\\java.exe")) {
    RemovePath(staging);
    return std::unexpected("bin\\java.exe not found after extraction");
  }
  auto replaced = ReplaceDirectory(staging, installDir + L"\\runtime",
                                   installDir + L"\\temp\\backup-jre", swapPolicy);
  if (!replaced) RemovePath(staging);
  return replaced;
}

std::expected<void, std::string> InstallLauncher(const std::wstring& installDir,
                                                 const std::wstring& archive, int basePercent,
                                                 int spanPercent) {
  SetStatus(currentUiStrings->statusRemovingOldLauncherFiles, basePercent);
  if (!RemoveOldLauncherApp(installDir)) {
    return std::unexpected("can't remove the old app folder");
  }
  // Not transactional: the archive's files overwrite their namesakes in the install
  // directory, and a failure from here on leaves the launcher incomplete.
  if (!ExpandArchive(archive, installDir, currentUiStrings->statusInstallingLauncher, basePercent,
                     spanPercent, L"", false)) {
    return std::unexpected("extraction failed");
  }
  return {};
}

std::expected<void, std::string> InstallComponent(const std::wstring& installDir,
                                                  core::Component component,
                                                  const std::wstring& archive, int basePercent,
                                                  int spanPercent) noexcept {
  using Result = std::expected<void, std::string>;
  return core::CallNoThrow(
      "Component installation",
      [&]() -> Result {
        return component == core::Component::Jre
                   ? InstallRuntime(installDir, archive, basePercent, spanPercent)
                   : InstallLauncher(installDir, archive, basePercent, spanPercent);
      },
      Result(std::unexpected("installation failed")));
}

}  // namespace kestrivon::win
