#pragma once

// An UpdaterHost and a Downloader that answer from a script and record every call, in order.

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "core/installed_versions.h"
#include "core/interrupted_install.h"
#include "core/updater_host.h"

namespace kestrivon::testing {

class FakeDownloader : public core::Downloader {
 public:
  // What every Download of one URL does: write `body` to the destination (also on failure, to
  // prove that a partial file is deleted), then succeed or fail with `error`. With a
  // `validator` it answers like a server with ranges: a transfer that names the validator gets
  // the rest of the body appended; `firstCut` ends the first transfer of the URL after that
  // many bytes with a retryable error.
  struct Outcome {
    std::string body{};
    std::optional<core::DownloadError> error{};
    bool cancel = false;  // cancellation is requested during the transfer
    std::string validator{};
    size_t firstCut = 0;
  };
  std::map<std::string, Outcome> outcomes;  // unscripted URLs fail for good
  mutable bool cancelled = false;
  int cancelDuringWait = 0;  // the n-th pause (1-based) is cancelled

  // "{label} {url} {attempts} {connect s} {min bytes/s} {window s}" per transfer, followed by
  // " from {n}" when it continued after n kept bytes; every pause.
  mutable std::vector<std::string> calls;
  mutable std::vector<int> waits;

  std::expected<void, core::DownloadError> Download(const std::string& url,
                                                    const std::filesystem::path& destination,
                                                    const core::DownloadPolicy& policy,
                                                    const core::ProgressCallback& progress,
                                                    core::TransferState& state) const override {
    const auto found = outcomes.find(url);
    const bool resumes =
        found != outcomes.end() && state.kept > 0 && !found->second.validator.empty() &&
        state.validator == found->second.validator && state.kept <= found->second.body.size();
    calls.push_back(fmt::format("{} {} {} {} {} {}{}", policy.label, url, policy.attempts,
                                policy.connectTimeoutSeconds, policy.minBytesPerSecond,
                                policy.windowSeconds,
                                resumes ? fmt::format(" from {}", state.kept) : ""));
    if (found == outcomes.end()) return std::unexpected(core::DownloadError{"HTTP 404", false});
    const Outcome& outcome = found->second;
    if (!resumes) state.StartAfresh();
    state.validator = outcome.validator;
    if (!state.validator.empty() && state.bodyStarting) state.bodyStarting(state);
    std::string part = outcome.body.substr(resumes ? state.kept : 0);
    const bool cut = outcome.firstCut > 0 && ++cuts[url] == 1;
    if (cut) part.resize(std::min(part.size(), outcome.firstCut));
    std::ofstream(destination, std::ios::binary | (resumes ? std::ios::app : std::ios::trunc))
        << part;
    state.digest.Update(reinterpret_cast<const uint8_t*>(part.data()), part.size());
    state.kept += part.size();
    if (progress) progress(state.kept, state.expectedSize);
    if (outcome.cancel) cancelled = true;
    if (cut) return std::unexpected(core::DownloadError{"connection reset", true});
    if (outcome.error) return std::unexpected(*outcome.error);
    return {};
  }
  bool WaitFor(int milliseconds) const override {
    waits.push_back(milliseconds);
    if (cancelDuringWait == static_cast<int>(waits.size())) cancelled = true;
    return !cancelled;
  }
  bool IsCancelled() const override { return cancelled; }

 private:
  mutable std::map<std::string, int> cuts;
};

class FakeHost : public core::UpdaterHost {
 public:
  explicit FakeHost(std::filesystem::path root) : root_(std::move(root)) {}

  FakeDownloader downloader;
  std::deque<std::expected<std::string, std::string>> manifestTexts;   // last one repeats
  std::deque<std::expected<std::string, std::string>> signatureTexts;  // last one repeats
  core::ManifestTrust trust;  // no keys: signatures are not asked for
  bool launcherOnDisk = true;
  bool jreOnDisk = true;
  bool acceptComponents = true;
  bool acceptUpdater = true;
  bool applyUpdater = false;
  std::string cancelAt;  // cancellation is requested when a call recorded so is made
  std::map<core::Component, std::string> installErrors;  // installing the others succeeds
  std::string deltaFormat;                               // none: full packages only
  std::map<core::Component, std::string> deltaErrors;    // deltas of the others apply

  // Record, e.g.: "DownloadingComponent JRE 55" (stages), "fetch", "progress JRE 55+28",
  // "install JRE temp/jre-package.zip 83+12: {bytes}", "apply {package}, recorded {digest}".
  std::vector<std::string> calls;

  std::filesystem::path InstallDir() override { return root_; }
  void SetStage(core::Stage stage, std::optional<core::Component> component, int percent) override {
    static constexpr const char* kStages[] = {"Preparing",
                                              "CheckingForUpdates",
                                              "UpdateDataReceived",
                                              "ManifestUnavailable",
                                              "CheckingComponents",
                                              "DownloadingUpdater",
                                              "ApplyingUpdaterUpdate",
                                              "UpdatingComponents",
                                              "DownloadingComponent",
                                              "InstallingComponent",
                                              "ComponentsDone",
                                              "NoUpdatesRequired",
                                              "RemovingTemporaryFiles"};
    const char* name = kStages[static_cast<int>(stage)];
    Record(component ? fmt::format("{} {} {}", name, Name(component), percent)
                     : fmt::format("{} {}", name, percent));
  }
  core::ProgressCallback MakeDownloadProgress(std::optional<core::Component> component,
                                              int basePercent, int spanPercent) override {
    Record(fmt::format("progress {} {}+{}", Name(component), basePercent, spanPercent));
    return [](uint64_t, uint64_t) {};
  }
  void ShowFailure(core::Failure failure, std::optional<core::Component> component) override {
    static constexpr const char* kFailures[] = {"ManifestUnavailable", "DownloadFailed",
                                                "VerificationFailed", "InstallFailed",
                                                "NotEnoughSpace"};
    Record(fmt::format("failure {} {}", kFailures[static_cast<int>(failure)], Name(component)));
  }
  bool ConfirmComponentUpdates(const std::vector<core::PendingUpdate>& updates) override {
    std::string call = "confirm";
    for (const core::PendingUpdate& row : updates) {
      call += fmt::format("{} {} {}", call.size() > 7 ? "," : "", Name(row.component),
                          row.installedVersion);
    }
    Record(std::move(call));
    return acceptComponents;
  }
  bool ConfirmUpdaterUpdate(const core::UpdateInfo& updater) override {
    Record("confirm updater " + updater.version);
    return acceptUpdater;
  }
  std::expected<std::string, std::string> FetchManifestText() override {
    Record("fetch");
    if (manifestTexts.empty()) return std::unexpected(std::string("no connection"));
    auto text = manifestTexts.front();
    if (manifestTexts.size() > 1) manifestTexts.pop_front();
    return text;
  }
  std::expected<std::string, std::string> FetchManifestSignatureText() override {
    Record("fetch signature");
    if (signatureTexts.empty()) return std::unexpected(std::string("HTTP 404"));
    auto text = signatureTexts.front();
    if (signatureTexts.size() > 1) signatureTexts.pop_front();
    return text;
  }
  core::ManifestTrust GetManifestTrust() override { return trust; }
  core::Downloader& GetDownloader() override { return downloader; }
  bool IsInstalled(core::Component component) override {
    Record("installed? " + Name(component));
    return component == core::Component::Jre ? jreOnDisk : launcherOnDisk;
  }
  std::expected<void, std::string> InstallComponent(core::Component component,
                                                    const std::filesystem::path& archive,
                                                    int basePercent, int spanPercent) override {
    std::ifstream stream(archive, std::ios::binary);
    Record(fmt::format("install {} {} {}+{}: {}", Name(component), Relative(archive), basePercent,
                       spanPercent, std::string(std::istreambuf_iterator<char>(stream), {})));
    const auto error = installErrors.find(component);
    if (error != installErrors.end()) return std::unexpected(error->second);
    return {};
  }
  std::string DeltaFormat() override { return deltaFormat; }
  std::expected<void, std::string> InstallComponentFromDelta(core::Component component,
                                                             const std::filesystem::path& delta,
                                                             int basePercent,
                                                             int spanPercent) override {
    std::ifstream stream(delta, std::ios::binary);
    Record(fmt::format("install delta {} {} {}+{}: {}", Name(component), Relative(delta),
                       basePercent, spanPercent,
                       std::string(std::istreambuf_iterator<char>(stream), {})));
    const auto error = deltaErrors.find(component);
    if (error != deltaErrors.end()) return std::unexpected(error->second);
    return {};
  }
  bool ApplyUpdaterUpdate(const std::filesystem::path& package) override {
    Record(fmt::format("apply {}, recorded {}", Relative(package),
                       core::ReadInstalledVersions(root_).updaterArchiveSha256));
    // As the real host does once the new executable is in place.
    if (applyUpdater) core::RemoveUpdaterSwapMarker(root_);
    return applyUpdater;
  }

 private:
  static std::string Name(std::optional<core::Component> component) {
    return component ? std::string(core::ComponentLogName(*component)) : "updater";
  }
  std::string Relative(const std::filesystem::path& path) const {
    return path.lexically_relative(root_).generic_string();
  }
  void Record(std::string call) {
    if (!cancelAt.empty() && call.starts_with(cancelAt)) downloader.cancelled = true;
    calls.push_back(std::move(call));
  }

  std::filesystem::path root_;
};

}  // namespace kestrivon::testing
