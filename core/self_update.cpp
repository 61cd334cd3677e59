#include "core/self_update.h"

#include "core/ascii.h"
#include "core/installed_versions.h"
#include "core/interrupted_install.h"
#include "core/log.h"
#include "core/verified_download.h"

namespace kestrivon::core {
namespace {

constexpr int kDownloadBasePercent = 10;
constexpr int kDownloadSpanPercent = 70;
constexpr int kApplyPercent = 95;

}  // namespace

bool UpdaterNeedsUpdate(const std::string& appliedSha256, const UpdateInfo& updater) {
  if (!IsValidEntry(updater)) return false;
  return !DigestsMatch(appliedSha256, updater.sha256);
}

SelfUpdateOutcome SelfUpdate(UpdaterHost& host, const std::filesystem::path& root,
                             const UpdateInfo& updater) {
  InstalledVersions record = ReadInstalledVersions(root);
  if (!UpdaterNeedsUpdate(record.updaterArchiveSha256, updater)) {
    LogFormat(LogLevel::Info, "Updater is up to date (package sha256 {})",
              ShortDigest(record.updaterArchiveSha256));
    return SelfUpdateOutcome::Continue;
  }
  LogFormat(LogLevel::Info, "Updater update available: {} (package sha256 {} -> {})",
            updater.version, ShortDigest(record.updaterArchiveSha256), ShortDigest(updater.sha256));

  if (!host.ConfirmUpdaterUpdate(updater)) {
    Log(LogLevel::Info, "The user declined the updater update");
    return SelfUpdateOutcome::Cancelled;
  }

  host.SetStage(Stage::DownloadingUpdater, std::nullopt, kDownloadBasePercent);
  const std::filesystem::path package =
      root / "temp" / ("updater-package" + ArchiveSuffix(updater.url));
  std::expected<void, DownloadFailure> result;
  {
    const ProgressCallback progress =
        host.MakeDownloadProgress(std::nullopt, kDownloadBasePercent, kDownloadSpanPercent);
    result = DownloadVerified(updater, package, host.GetDownloader(), progress);
  }
  if (!result) {
    if (result.error() == DownloadFailure::Cancelled) return SelfUpdateOutcome::Cancelled;
    Log(LogLevel::Warning, "Couldn't get the updater update; continuing with the current version");
    return SelfUpdateOutcome::Continue;
  }

  host.SetStage(Stage::ApplyingUpdaterUpdate, std::nullopt, kApplyPercent);
  // Recorded before the new program starts, so that it finds its own package applied. Without
  // the record it would take itself for outdated and replace itself again on every start.
  // The marker undoes the record at the next start should a kill stop the replacement.
  const std::string previousDigest = record.updaterArchiveSha256;
  record.updaterArchiveSha256 = updater.sha256;
  if (WriteUpdaterSwapMarker(root, previousDigest) && WriteInstalledVersions(root, record)) {
    if (host.ApplyUpdaterUpdate(package)) return SelfUpdateOutcome::Restarted;
    record.updaterArchiveSha256 = previousDigest;
    // A failed restore is logged; the update is then not offered again until the next one.
    static_cast<void>(WriteInstalledVersions(root, record));
  }
  RemoveUpdaterSwapMarker(root);
  Log(LogLevel::Warning, "Couldn't apply the updater update; continuing with the current version");
  return SelfUpdateOutcome::Continue;
}

}  // namespace kestrivon::core
