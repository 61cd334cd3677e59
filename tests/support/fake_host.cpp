#include "tests/support/fake_host.h"

#include <fstream>
#include <iterator>

namespace kestrivon::testing {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

}  // namespace

void FakeHost::Record(const char* event) {
  if (onEvent) onEvent(event);
}

std::filesystem::path FakeHost::InstallDir() { return root_; }

void FakeHost::SetStage(core::Stage stage, std::optional<core::Component> component, int percent) {
  Record("SetStage");
  stages.push_back({stage, component, percent});
}

core::ProgressCallback FakeHost::MakeDownloadProgress(std::optional<core::Component> component,
                                                      int basePercent, int spanPercent) {
  Record("MakeDownloadProgress");
  progressCalls.push_back({component, basePercent, spanPercent});
  return [](uint64_t, uint64_t) {};
}

void FakeHost::ShowFailure(core::Failure failure, std::optional<core::Component> component) {
  Record("ShowFailure");
  failures.push_back({failure, component});
}

bool FakeHost::ConfirmComponentUpdates(const std::vector<core::PendingUpdate>& updates) {
  Record("ConfirmComponentUpdates");
  componentQuestions.push_back(updates);
  return acceptComponents;
}

bool FakeHost::ConfirmUpdaterUpdate(const core::UpdateInfo& updater) {
  Record("ConfirmUpdaterUpdate");
  updaterQuestions.push_back(updater);
  return acceptUpdater;
}

std::expected<std::string, std::string> FakeHost::FetchManifestText() {
  Record("FetchManifestText");
  ++manifestFetches;
  if (manifestTexts.empty()) return std::unexpected(std::string("no connection"));
  auto text = manifestTexts.front();
  if (manifestTexts.size() > 1) manifestTexts.pop_front();
  return text;
}

core::Downloader& FakeHost::GetDownloader() { return downloader; }

bool FakeHost::IsInstalled(core::Component component) {
  Record("IsInstalled");
  installedQueries.push_back(component);
  return component == core::Component::Jre ? jreOnDisk : launcherOnDisk;
}

std::expected<void, std::string> FakeHost::InstallComponent(core::Component component,
                                                            const std::filesystem::path& archive,
                                                            int basePercent, int spanPercent) {
  Record("InstallComponent");
  installs.push_back({component, archive, ReadFile(archive), basePercent, spanPercent});
  if (install) return install(component);
  return {};
}

bool FakeHost::ApplyUpdaterUpdate(const std::filesystem::path& package) {
  Record("ApplyUpdaterUpdate");
  appliedPackages.push_back(package);
  recordAtApply.push_back(ReadFile(root_ / "config" / "versions.json"));
  return applyUpdater;
}

}  // namespace kestrivon::testing
