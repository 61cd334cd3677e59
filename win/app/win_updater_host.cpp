#include "win/app/win_updater_host.h"

#include <utility>

#include "core/content_hosts.h"
#include "core/escaped_text.h"
#include "core/version.h"
#include "delta/delta_list.h"
#include "win/app/download_status.h"
#include "win/base/test_seam.h"
#include "win/base/text_encoding.h"
#include "win/install/file_ops.h"
#include "win/install/install_component.h"
#include "win/install/kill_point.h"
#include "win/install/self_replace.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

using core::Component;
using core::Stage;

constexpr int64_t kManifestTimeoutMilliseconds = 15'000;
constexpr uint64_t kManifestMaxBytes = 5'242'880;

const wchar_t* DownloadingText(std::optional<Component> component) {
  const UiStrings& text = *currentUiStrings;
  if (!component) return text.statusDownloadingUpdate;
  return *component == Component::Jre ? text.statusDownloadingJava : text.statusDownloadingLauncher;
}

// Versions come from the manifest and from the record on disk: shown as the log has them.
std::wstring ShownText(const std::string& text) { return WideFromUtf8(core::EscapeText(text)); }

// What a stage shows: the status text (none leaves text and progress as they are) and what
// happens to the Cancel button.
enum class CancelChange : uint8_t { Unchanged, Offer, Withdraw };
struct StagePresentation {
  std::optional<std::wstring> status;
  CancelChange cancel = CancelChange::Unchanged;
};

StagePresentation PresentStage(Stage stage, std::optional<Component> component) {
  const UiStrings& text = *currentUiStrings;
  switch (stage) {
    case Stage::Preparing:
      return {text.statusPreparing};
    case Stage::CheckingForUpdates:
      return {text.statusCheckingUpdates};
    case Stage::UpdateDataReceived:
      return {text.statusUpdateDataReceived};
    case Stage::ManifestUnavailable:
      return {text.statusCheckFailedStartingInstalled};
    case Stage::CheckingComponents:
      return {text.statusCheckingComponents};
    case Stage::DownloadingUpdater:
      return {text.statusDownloadingUpdate, CancelChange::Offer};
    case Stage::ApplyingUpdaterUpdate:
      return {text.statusApplyingUpdate, CancelChange::Withdraw};
    case Stage::UpdatingComponents:
      return {std::nullopt, CancelChange::Offer};
    case Stage::DownloadingComponent:
      return {DownloadingText(component)};
    case Stage::InstallingComponent:
      if (!component) return {};
      return {*component == Component::Jre ? text.statusInstallingJava
                                           : text.statusInstallingLauncher};
    case Stage::ComponentsDone:
      return {std::nullopt, CancelChange::Withdraw};
    case Stage::NoUpdatesRequired:
      return {text.statusNoUpdatesRequired};
    case Stage::RemovingTemporaryFiles:
      return {text.statusRemovingTempFiles};
  }
  return {};
}

std::vector<PromptRow> ComponentPromptRows(const std::vector<core::PendingUpdate>& updates) {
  const UiStrings& text = *currentUiStrings;
  std::vector<PromptRow> rows;
  rows.reserve(updates.size());
  for (const core::PendingUpdate& update : updates) {
    rows.push_back(
        {update.component == Component::Jre ? text.componentJava : text.componentLauncher,
         update.installedVersion.empty() ? std::wstring(text.versionNotInstalled)
                                         : ShownText(update.installedVersion),
         ShownText(update.entry.version), update.entry.size});
  }
  return rows;
}

PromptRow UpdaterPromptRow(const core::UpdateInfo& updater) {
  return {currentUiStrings->componentUpdater, WideFromUtf8(core::updaterVersion),
          ShownText(updater.version), updater.size};
}

std::wstring ManifestUrl() {
  return L"https://" + WideFromUtf8(core::cdnHost) + L"/launcher/launcher-manifest.json";
}

}  // namespace

CancelButtonScope::CancelButtonScope() noexcept { EnableCancel(); }
CancelButtonScope::~CancelButtonScope() { DisableCancel(); }

WinUpdaterHost::WinUpdaterHost(std::wstring installDir, UniqueHandle* instanceMutex)
    : installDir_(std::move(installDir)), instanceMutex_(instanceMutex) {}

// The Cancel button never outlives the run: a live scope is destroyed with the host.
WinUpdaterHost::~WinUpdaterHost() = default;

std::filesystem::path WinUpdaterHost::InstallDir() { return installDir_; }

void WinUpdaterHost::SetStage(Stage stage, std::optional<Component> component, int percent) {
  if (testSeam.stageSet != nullptr) testSeam.stageSet();
  // The stages around an install: the package downloaded, the record written, "temp" about
  // to be emptied.
  if (stage == Stage::InstallingComponent || stage == Stage::ApplyingUpdaterUpdate ||
      stage == Stage::RemovingTemporaryFiles) {
    InstallStep();
  }
  StagePresentation presentation = PresentStage(stage, component);
  switch (presentation.cancel) {
    case CancelChange::Offer:
      cancelScope_.reset();  // withdrawn first, so the button is offered afresh
      cancelScope_.emplace();
      break;
    case CancelChange::Withdraw:
      cancelScope_.reset();
      break;
    case CancelChange::Unchanged:
      break;
  }
  if (presentation.status) SetStatus(*presentation.status, percent);
}

core::ProgressCallback WinUpdaterHost::MakeDownloadProgress(std::optional<Component> component,
                                                            int basePercent, int spanPercent) {
  return DownloadProgressReporter(DownloadingText(component), basePercent, spanPercent);
}

void WinUpdaterHost::ShowFailure(core::Failure failure, std::optional<Component>) {
  const UiStrings& text = *currentUiStrings;
  switch (failure) {
    case core::Failure::ManifestUnavailable:
      ShowError(text.errorCheckFailedNoLauncher);
      return;
    case core::Failure::DownloadFailed:
      ShowError(text.errorDownloadFailed);
      return;
    case core::Failure::VerificationFailed:
      ShowError(text.errorIntegrityFailed);
      return;
    case core::Failure::InstallFailed:
      ShowError(text.errorExtractFailed + installDir_);
      return;
    case core::Failure::NotEnoughSpace:
      ShowError(text.errorNotEnoughSpace + installDir_);
      return;
  }
}

bool WinUpdaterHost::ConfirmComponentUpdates(const std::vector<core::PendingUpdate>& updates) {
  return AskConfirmation(ComponentPromptRows(updates));
}

bool WinUpdaterHost::ConfirmUpdaterUpdate(const core::UpdateInfo& updater) {
  return AskConfirmation({UpdaterPromptRow(updater)});
}

std::expected<std::string, std::string> WinUpdaterHost::FetchManifestText() {
  return downloader_.FetchText(ManifestUrl(), kManifestTimeoutMilliseconds, kManifestMaxBytes);
}

std::expected<std::string, std::string> WinUpdaterHost::FetchManifestSignatureText() {
  return downloader_.FetchText(ManifestUrl() + L".sig", kManifestTimeoutMilliseconds,
                               core::maxSignatureFileBytes);
}

core::ManifestTrust WinUpdaterHost::GetManifestTrust() {
  return {core::BuiltInManifestKeys(), &verifier_};
}

core::Downloader& WinUpdaterHost::GetDownloader() { return downloader_; }

bool WinUpdaterHost::IsInstalled(Component component) {
  return IsRegularFile(installDir_ + (component == Component::Jre ? L"\\runtime\\bin\\java.exe"
                                                                  : L"\\KestrivonLauncher.exe"));
}

std::expected<void, std::string> WinUpdaterHost::InstallComponent(
    Component component, const std::filesystem::path& archive, int basePercent, int spanPercent) {
  return win::InstallComponent(installDir_, component, archive.wstring(), basePercent, spanPercent);
}

std::string WinUpdaterHost::DeltaFormat() { return std::string(delta::kDeltaFormat); }

std::expected<void, std::string> WinUpdaterHost::InstallComponentFromDelta(
    Component component, const std::filesystem::path& delta, int basePercent, int spanPercent) {
  return win::InstallComponentFromDelta(installDir_, component, delta.wstring(), basePercent,
                                        spanPercent);
}

bool WinUpdaterHost::ApplyUpdaterUpdate(const std::filesystem::path& package) {
  return win::ApplyUpdaterUpdate(installDir_, package.wstring(), instanceMutex_);
}

}  // namespace kestrivon::win
