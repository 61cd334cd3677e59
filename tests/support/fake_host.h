#pragma once

// An UpdaterHost that records every call in order and answers from a script.

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/updater_host.h"
#include "tests/support/fake_downloader.h"

namespace kestrivon::testing {

class FakeHost : public core::UpdaterHost {
 public:
  struct StageCall {
    core::Stage stage;
    std::optional<core::Component> component;
    int percent;
    bool operator==(const StageCall&) const = default;
  };
  struct ProgressCall {
    std::optional<core::Component> component;
    int base;
    int span;
    bool operator==(const ProgressCall&) const = default;
  };
  struct FailureCall {
    core::Failure failure;
    std::optional<core::Component> component;
    bool operator==(const FailureCall&) const = default;
  };
  struct InstallCall {
    core::Component component;
    std::filesystem::path archive;
    std::string archiveContent;  // read at the moment of the call
    int base;
    int span;
  };

  explicit FakeHost(std::filesystem::path root) : root_(std::move(root)) {}

  // Script.
  FakeDownloader downloader;
  std::deque<std::expected<std::string, std::string>> manifestTexts;  // last one repeats
  bool launcherOnDisk = true;
  bool jreOnDisk = true;
  bool acceptComponents = true;
  bool acceptUpdater = true;
  bool applyUpdater = false;
  // Runs after each call, with the call's name (e.g. to request cancellation there).
  std::function<void(const std::string& event)> onEvent;
  // Per component; empty means success.
  std::function<std::expected<void, std::string>(core::Component)> install;

  // Record.
  std::vector<StageCall> stages;
  std::vector<ProgressCall> progressCalls;
  std::vector<FailureCall> failures;
  std::vector<std::vector<core::PendingUpdate>> componentQuestions;
  std::vector<core::UpdateInfo> updaterQuestions;
  std::vector<core::Component> installedQueries;
  std::vector<InstallCall> installs;
  std::vector<std::filesystem::path> appliedPackages;
  std::vector<std::string> recordAtApply;  // versions.json text when ApplyUpdaterUpdate ran
  int manifestFetches = 0;

  std::filesystem::path InstallDir() override;
  void SetStage(core::Stage stage, std::optional<core::Component> component, int percent) override;
  core::ProgressCallback MakeDownloadProgress(std::optional<core::Component> component,
                                              int basePercent, int spanPercent) override;
  void ShowFailure(core::Failure failure, std::optional<core::Component> component) override;
  bool ConfirmComponentUpdates(const std::vector<core::PendingUpdate>& updates) override;
  bool ConfirmUpdaterUpdate(const core::UpdateInfo& updater) override;
  std::expected<std::string, std::string> FetchManifestText() override;
  core::Downloader& GetDownloader() override;
  bool IsInstalled(core::Component component) override;
  std::expected<void, std::string> InstallComponent(core::Component component,
                                                    const std::filesystem::path& archive,
                                                    int basePercent, int spanPercent) override;
  bool ApplyUpdaterUpdate(const std::filesystem::path& package) override;

 private:
  void Record(const char* event);

  std::filesystem::path root_;
};

}  // namespace kestrivon::testing
