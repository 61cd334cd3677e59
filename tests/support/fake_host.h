#pragma once

// An UpdaterHost that answers from a script and records every call, in order, as one line.

#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/updater_host.h"
#include "tests/support/fake_downloader.h"

namespace kestrivon::testing {

class FakeHost : public core::UpdaterHost {
 public:
  explicit FakeHost(std::filesystem::path root) : root_(std::move(root)) {}

  // Script.
  FakeDownloader downloader;
  std::deque<std::expected<std::string, std::string>> manifestTexts;  // last one repeats
  bool launcherOnDisk = true;
  bool jreOnDisk = true;
  bool acceptComponents = true;
  bool acceptUpdater = true;
  bool applyUpdater = false;
  std::string cancelAt;  // cancellation is requested when a call recorded so is made
  std::map<core::Component, std::string> installErrors;  // installing the others succeeds

  // Record: "Preparing 0", "DownloadingComponent JRE 55" (stages), "fetch", "installed? JRE",
  // "confirm Launcher 1.0.0, JRE 21.0.2", "confirm updater 1.0.1", "progress JRE 55+28",
  // "install JRE temp/jre-package.zip 83+12: {bytes}", "failure InstallFailed JRE",
  // "apply temp/updater-package.zip, recorded {updater digest in versions.json}".
  std::vector<std::string> calls;

  std::filesystem::path InstallDir() override { return root_; }
  void SetStage(core::Stage stage, std::optional<core::Component> component, int percent) override;
  core::ProgressCallback MakeDownloadProgress(std::optional<core::Component> component,
                                              int basePercent, int spanPercent) override;
  void ShowFailure(core::Failure failure, std::optional<core::Component> component) override;
  bool ConfirmComponentUpdates(const std::vector<core::PendingUpdate>& updates) override;
  bool ConfirmUpdaterUpdate(const core::UpdateInfo& updater) override;
  std::expected<std::string, std::string> FetchManifestText() override;
  core::Downloader& GetDownloader() override { return downloader; }
  bool IsInstalled(core::Component component) override;
  std::expected<void, std::string> InstallComponent(core::Component component,
                                                    const std::filesystem::path& archive,
                                                    int basePercent, int spanPercent) override;
  bool ApplyUpdaterUpdate(const std::filesystem::path& package) override;

 private:
  void Record(std::string call);

  std::filesystem::path root_;
};

}  // namespace kestrivon::testing
