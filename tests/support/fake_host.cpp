#include "tests/support/fake_host.h"

#include <fstream>
#include <iterator>

#include <fmt/format.h>

#include "core/installed_versions.h"

namespace kestrivon::testing {
namespace {

constexpr const char* kStages[] = {"Preparing",
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
constexpr const char* kFailures[] = {"ManifestUnavailable", "DownloadFailed", "VerificationFailed",
                                     "InstallFailed"};

std::string Name(std::optional<core::Component> component) {
  return component ? std::string(core::ComponentLogName(*component)) : "updater";
}

}  // namespace

void FakeHost::Record(std::string call) {
  if (!cancelAt.empty() && call.starts_with(cancelAt)) downloader.cancelled = true;
  calls.push_back(std::move(call));
}

void FakeHost::SetStage(core::Stage stage, std::optional<core::Component> component, int percent) {
  const char* name = kStages[static_cast<int>(stage)];
  Record(component ? fmt::format("{} {} {}", name, Name(component), percent)
                   : fmt::format("{} {}", name, percent));
}

core::ProgressCallback FakeHost::MakeDownloadProgress(std::optional<core::Component> component,
                                                      int basePercent, int spanPercent) {
  Record(fmt::format("progress {} {}+{}", Name(component), basePercent, spanPercent));
  return [](uint64_t, uint64_t) {};
}

void FakeHost::ShowFailure(core::Failure failure, std::optional<core::Component> component) {
  Record(fmt::format("failure {} {}", kFailures[static_cast<int>(failure)], Name(component)));
}

bool FakeHost::ConfirmComponentUpdates(const std::vector<core::PendingUpdate>& updates) {
  std::string call = "confirm";
  for (const core::PendingUpdate& row : updates) {
    call += fmt::format("{} {} {}", call.size() > 7 ? "," : "", Name(row.component),
                        row.installedVersion);
  }
  Record(std::move(call));
  return acceptComponents;
}

bool FakeHost::ConfirmUpdaterUpdate(const core::UpdateInfo& updater) {
  Record("confirm updater " + updater.version);
  return acceptUpdater;
}

std::expected<std::string, std::string> FakeHost::FetchManifestText() {
  Record("fetch");
  if (manifestTexts.empty()) return std::unexpected(std::string("no connection"));
  auto text = manifestTexts.front();
  if (manifestTexts.size() > 1) manifestTexts.pop_front();
  return text;
}

bool FakeHost::IsInstalled(core::Component component) {
  Record("installed? " + Name(component));
  return component == core::Component::Jre ? jreOnDisk : launcherOnDisk;
}

std::expected<void, std::string> FakeHost::InstallComponent(core::Component component,
                                                            const std::filesystem::path& archive,
                                                            int basePercent, int spanPercent) {
  std::ifstream stream(archive, std::ios::binary);
  Record(fmt::format("install {} {} {}+{}: {}", Name(component),
                     archive.lexically_relative(root_).generic_string(), basePercent, spanPercent,
                     std::string(std::istreambuf_iterator<char>(stream), {})));
  const auto error = installErrors.find(component);
  if (error != installErrors.end()) return std::unexpected(error->second);
  return {};
}

bool FakeHost::ApplyUpdaterUpdate(const std::filesystem::path& package) {
  Record(fmt::format("apply {}, recorded {}", package.lexically_relative(root_).generic_string(),
                     core::ReadInstalledVersions(root_).updaterArchiveSha256));
  return applyUpdater;
}

}  // namespace kestrivon::testing
