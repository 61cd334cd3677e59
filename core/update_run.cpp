#include "core/update_run.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/ascii.h"
#include "core/installed_versions.h"
#include "core/interrupted_install.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/manifest.h"
#include "core/no_throw.h"
#include "core/partial_download.h"
#include "core/self_update.h"
#include "core/verified_download.h"
#include "core/workspace.h"

namespace kestrivon::core {
namespace {

constexpr int kDownloadSpanPercent = 28;
constexpr int kInstallSpanPercent = 12;

constexpr int DownloadBasePercent(Component component) {
  return component == Component::Jre ? 55 : 15;
}

constexpr int InstallPercent(Component component) { return component == Component::Jre ? 83 : 43; }

template <typename Record>  // InstalledVersions, const or not
auto& RecordOf(Record& record, Component component) {
  return component == Component::Jre ? record.jre : record.launcher;
}

const UpdateInfo& EntryOf(const Manifest& manifest, Component component) {
  return component == Component::Jre ? manifest.jre : manifest.launcher;
}

std::filesystem::path ArchivePath(const std::filesystem::path& root, Component component,
                                  const UpdateInfo& entry) {
  return root / "temp" /
         (std::string(ComponentFileStem(component)) + "-package" + ArchiveSuffix(entry.url));
}

// The record names the new package once its component is in place, however it was built.
void RecordInstalled(const std::filesystem::path& root, const PendingUpdate& row) {
  // Read afresh so that fields written earlier in this run survive.
  InstalledVersions record = ReadInstalledVersions(root);
  RecordOf(record, row.component) = {row.entry.version, row.entry.sha256};
  // A failed write is logged; the component is then only installed again by the next run.
  static_cast<void>(WriteInstalledVersions(root, record));
  LogFormat(LogLevel::Info, "{} {} installed", ComponentLogName(row.component), row.entry.version);
}

enum class DeltaOutcome : uint8_t { Installed, Cancelled, FullPackage };

// The component's new version built from the installed one and a delta, when the manifest
// has one from the installed package: a fraction of the download. Whatever goes wrong with it
// leaves the installed copy as it was, and the full package is fetched in the same run.
DeltaOutcome TryDelta(UpdaterHost& host, const std::filesystem::path& root,
                      const PendingUpdate& row, std::string_view installedSha256) {
  const std::string format = host.DeltaFormat();
  const DeltaInfo* delta = format.empty() ? nullptr : FindDelta(row.entry, installedSha256, format);
  if (delta == nullptr) return DeltaOutcome::FullPackage;
  const Component component = row.component;
  const std::string_view name = ComponentLogName(component);
  const Downloader& downloader = host.GetDownloader();
  const int base = DownloadBasePercent(component);
  const std::filesystem::path file =
      root / "temp" / (std::string(ComponentFileStem(component)) + "-delta.zip");
  LogFormat(LogLevel::Info, "{}: a delta from the installed package, {} bytes instead of {}", name,
            delta->size, row.entry.size);

  host.SetStage(Stage::DownloadingComponent, component, base);
  std::expected<void, DownloadFailure> downloaded;
  {
    const ProgressCallback progress =
        host.MakeDownloadProgress(component, base, kDownloadSpanPercent);
    downloaded = DownloadVerified(DeltaDownload(row.entry, *delta), file, downloader, progress);
  }
  std::error_code ignored;
  if (!downloaded) {
    if (downloaded.error() == DownloadFailure::Cancelled) return DeltaOutcome::Cancelled;
    std::filesystem::remove(LongPath(file), ignored);
    LogFormat(LogLevel::Warning, "{}: the delta could not be had; downloading the full package",
              name);
    return DeltaOutcome::FullPackage;
  }
  const int install = InstallPercent(component);
  host.SetStage(Stage::InstallingComponent, component, install);
  const auto built = host.InstallComponentFromDelta(component, file, install, kInstallSpanPercent);
  std::filesystem::remove(LongPath(file), ignored);
  if (downloader.IsCancelled()) return DeltaOutcome::Cancelled;
  if (!built) {
    LogFormat(LogLevel::Warning, "{}: the delta did not apply ({}); downloading the full package",
              name, built.error());
    return DeltaOutcome::FullPackage;
  }
  return DeltaOutcome::Installed;
}

// Downloads, installs and records one pending component. Empty when it is in place.
std::optional<RunResult> UpdateComponent(UpdaterHost& host, const std::filesystem::path& root,
                                         const PendingUpdate& row,
                                         std::string_view installedSha256) {
  const Component component = row.component;
  const std::string_view name = ComponentLogName(component);
  const Downloader& downloader = host.GetDownloader();
  const int base = DownloadBasePercent(component);
  const std::filesystem::path archive = ArchivePath(root, component, row.entry);

  switch (TryDelta(host, root, row, installedSha256)) {
    case DeltaOutcome::Installed:
      RecordInstalled(root, row);
      return std::nullopt;
    case DeltaOutcome::Cancelled:
      host.SetStage(Stage::ComponentsDone, std::nullopt, base);
      return RunResult::Cancelled;
    case DeltaOutcome::FullPackage:
      break;
  }

  host.SetStage(Stage::DownloadingComponent, component, base);
  std::expected<void, DownloadFailure> downloaded;
  {
    const ProgressCallback progress =
        host.MakeDownloadProgress(component, base, kDownloadSpanPercent);
    downloaded = DownloadVerified(row.entry, archive, downloader, progress);
  }
  if (!downloaded) {
    host.SetStage(Stage::ComponentsDone, std::nullopt, base);
    switch (downloaded.error()) {
      case DownloadFailure::Cancelled:
        return RunResult::Cancelled;
      case DownloadFailure::Integrity:
        host.ShowFailure(Failure::VerificationFailed, component);
        return RunResult::Failed;
      case DownloadFailure::NoSpace:
        host.ShowFailure(Failure::NotEnoughSpace, component);
        return RunResult::Failed;
      case DownloadFailure::Transfer:
        break;
    }
    host.ShowFailure(Failure::DownloadFailed, component);
    return RunResult::Failed;
  }

  const int install = InstallPercent(component);
  host.SetStage(Stage::InstallingComponent, component, install);
  const auto installed = host.InstallComponent(component, archive, install, kInstallSpanPercent);
  if (!installed) {
    host.SetStage(Stage::ComponentsDone, std::nullopt, base);
    if (downloader.IsCancelled()) return RunResult::Cancelled;
    LogFormat(LogLevel::Error, "Installing {} failed: {}", name, installed.error());
    host.ShowFailure(Failure::InstallFailed, component);
    return RunResult::Failed;
  }

  RecordInstalled(root, row);
  std::error_code ignored;
  std::filesystem::remove(LongPath(archive), ignored);
  return std::nullopt;
}

// Each component's decision, logged; the rows to ask about. Nothing (after the failure is
// shown) when a component can neither be updated nor started as installed.
std::optional<std::vector<PendingUpdate>> PendingUpdates(UpdaterHost& host,
                                                         const InstalledVersions& installed,
                                                         const Manifest* manifest) {
  std::vector<PendingUpdate> pending;
  for (const Component component : {Component::Launcher, Component::Jre}) {
    const InstalledComponent& record = RecordOf(installed, component);
    const std::string_view name = ComponentLogName(component);
    const std::string shownVersion = record.version.empty() ? "none" : record.version;
    const UpdateInfo* entry = manifest ? &EntryOf(*manifest, component) : nullptr;
    const bool onDisk = host.IsInstalled(component);

    switch (DecideComponent(record, onDisk, entry)) {
      case ComponentDecision::UpToDate:
        LogFormat(LogLevel::Info, "{}: {} -> up to date", name, shownVersion);
        break;
      case ComponentDecision::UpdateNeeded:
        LogFormat(LogLevel::Info, "{}: {} (sha256 {}) -> {} (sha256 {}): update needed", name,
                  shownVersion, ShortDigest(record.sha256), entry->version,
                  ShortDigest(entry->sha256));
        pending.push_back({component, record.version, *entry});
        break;
      case ComponentDecision::UseInstalled:
        LogFormat(LogLevel::Info, "{}: {}, no usable manifest entry -> using the installed copy",
                  name, shownVersion);
        break;
      case ComponentDecision::Unavailable:
        LogFormat(LogLevel::Error, "{}: no usable manifest entry and not installed", name);
        host.ShowFailure(Failure::ManifestUnavailable, component);
        return std::nullopt;
    }
  }
  return pending;
}

// A download kept by an earlier run stays only while a pending row names its package.
void KeepOnlyWantedPartials(const std::filesystem::path& root,
                            const std::vector<PendingUpdate>& pending) {
  DiscardPartialDownloads(
      root, [&](const std::filesystem::path& package, const PartialRecord& partial) {
        return std::any_of(pending.begin(), pending.end(), [&](const PendingUpdate& row) {
          return ArchivePath(root, row.component, row.entry) == package &&
                 RecordNamesEntry(partial, row.entry);
        });
      });
}

RunResult Run(UpdaterHost& host) {
  const std::filesystem::path root = host.InstallDir();
  const Downloader& downloader = host.GetDownloader();

  std::error_code ignored;
  std::filesystem::create_directories(LongPath(root / "config"), ignored);
  std::filesystem::create_directories(LongPath(root / "temp"), ignored);

  host.SetStage(Stage::Preparing, std::nullopt, 0);
  RestoreInterruptedInstalls(root);  // its backups live in "temp"
  // A download kept by an earlier run waits for the manifest to say whether it is still wanted.
  CleanWorkspace(root, PartialDownloads::Keep);
  host.SetStage(Stage::CheckingForUpdates, std::nullopt, 10);

  const std::optional<Manifest> manifest = FetchManifest(host);
  if (downloader.IsCancelled()) return RunResult::Cancelled;

  if (manifest) {
    switch (SelfUpdate(host, root, manifest->updater)) {
      case SelfUpdateOutcome::Restarted:
        return RunResult::Restarted;
      case SelfUpdateOutcome::Cancelled:
        return RunResult::Cancelled;
      case SelfUpdateOutcome::Continue:
        break;
    }
    host.SetStage(Stage::UpdateDataReceived, std::nullopt, 15);
  } else {
    host.SetStage(Stage::ManifestUnavailable, std::nullopt, 15);
  }

  host.SetStage(Stage::CheckingComponents, std::nullopt, 20);
  InstalledVersions installed = ReadInstalledVersions(root);

  const std::optional<std::vector<PendingUpdate>> pending =
      PendingUpdates(host, installed, manifest ? &*manifest : nullptr);
  if (!pending) return RunResult::Failed;
  if (manifest) KeepOnlyWantedPartials(root, *pending);

  if (pending->empty()) {
    host.SetStage(Stage::NoUpdatesRequired, std::nullopt, 95);
  } else {
    if (!host.ConfirmComponentUpdates(*pending)) {
      Log(LogLevel::Info, "The user declined the component updates");
      return RunResult::Cancelled;
    }
    host.SetStage(Stage::UpdatingComponents, std::nullopt,
                  DownloadBasePercent(pending->front().component));
    for (const PendingUpdate& row : *pending) {
      const std::string& installedSha256 = RecordOf(installed, row.component).sha256;
      if (const auto ended = UpdateComponent(host, root, row, installedSha256)) return *ended;
    }
    host.SetStage(Stage::ComponentsDone, std::nullopt, 95);
  }

  host.SetStage(Stage::RemovingTemporaryFiles, std::nullopt, 96);
  CleanWorkspace(root);
  return downloader.IsCancelled() ? RunResult::Cancelled : RunResult::Ready;
}

}  // namespace

ComponentDecision DecideComponent(const InstalledComponent& installed, bool onDisk,
                                  const UpdateInfo* entry) {
  if (entry == nullptr || !IsValidEntry(*entry)) {
    return onDisk ? ComponentDecision::UseInstalled : ComponentDecision::Unavailable;
  }
  if (!onDisk) return ComponentDecision::UpdateNeeded;
  return DigestsMatch(installed.sha256, entry->sha256) ? ComponentDecision::UpToDate
                                                       : ComponentDecision::UpdateNeeded;
}

RunResult RunUpdate(UpdaterHost& host) {
  // Only resource exhaustion gets past Run; the run cannot go on, and nothing may escape it.
  return CallNoThrow(
      "Update run", [&] { return Run(host); }, RunResult::Failed);
}

}  // namespace kestrivon::core
