#pragma once

// The plain records and enumerations that cross the engine's interfaces: what a manifest and
// the installed-version record say, the question put to the user, progress and transfer
// limits, stages and outcomes. No behaviour: code that only passes these along (the
// extractor's progress, the log) needs nothing else of the engine.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrivon::core {

enum class Component : uint8_t {
  Launcher = 0,
  Jre = 1,
};

// "Launcher" / "JRE": the name used in log lines.
constexpr std::string_view ComponentLogName(Component component) {
  return component == Component::Jre ? "JRE" : "Launcher";
}

// "launcher" / "jre": the stem of the component's downloaded archive.
constexpr std::string_view ComponentFileStem(Component component) {
  return component == Component::Jre ? "jre" : "launcher";
}

// A delta package that turns the installed package `fromSha256` into the entry's own.
struct DeltaInfo {
  std::string fromSha256{};
  std::string url{};  // on the product CDN host
  std::string sha256{};
  uint64_t size = 0;
  std::string format{};  // which kind of delta: one this program knows, or it is not used
};

// One manifest entry: what the manifest says about one downloadable item.
struct UpdateInfo {
  bool present = false;
  std::string version;
  std::string url;
  std::string vendorUrl;
  std::string sha256;
  uint64_t size = 0;
  std::vector<DeltaInfo> deltas{};  // only valid ones, at most maxDeltasPerEntry
};

struct Manifest {
  UpdateInfo launcher;
  UpdateInfo jre;
  UpdateInfo updater;
  uint64_t serial = 0;  // the publisher's release counter; 0 when absent
};

struct InstalledComponent {
  std::string version;
  std::string sha256;
};

// The content of config/versions.json.
struct InstalledVersions {
  InstalledComponent launcher;
  InstalledComponent jre;
  std::string updaterArchiveSha256;
};

// One row of the component update question.
struct PendingUpdate {
  Component component = Component::Launcher;
  std::string installedVersion;  // empty when nothing is recorded
  UpdateInfo entry;
};

// (bytes done, expected total or 0 when unknown)
using ProgressCallback = std::function<void(uint64_t done, uint64_t total)>;

struct DownloadError {
  std::string message;
  bool retryable = false;
};

// Per-source transfer limits handed to Downloader::Download.
struct DownloadPolicy {
  int32_t attempts = 0;
  int64_t connectTimeoutSeconds = 0;
  uint64_t minBytesPerSecond = 0;  // 0 switches the minimum-speed rule off
  int64_t windowSeconds = 0;       // receive time-out and minimum-speed window
  const char* label = "";
};

enum class Stage : uint8_t {
  Preparing = 0,
  CheckingForUpdates = 1,
  UpdateDataReceived = 2,
  ManifestUnavailable = 3,
  CheckingComponents = 4,
  DownloadingUpdater = 5,
  ApplyingUpdaterUpdate = 6,
  UpdatingComponents = 7,
  DownloadingComponent = 8,
  InstallingComponent = 9,
  ComponentsDone = 10,
  NoUpdatesRequired = 11,
  RemovingTemporaryFiles = 12,
};

enum class Failure : uint8_t {
  ManifestUnavailable = 0,
  DownloadFailed = 1,
  VerificationFailed = 2,
  InstallFailed = 3,
  NotEnoughSpace = 4,  // the disk is too full for the package; the player can make room
};

enum class RunResult : uint8_t {
  Ready = 0,
  Restarted = 1,
  Cancelled = 2,
  Failed = 3,
};

enum class LogLevel : uint8_t {
  Info = 0,
  Warning = 1,
  Error = 2,
};

}  // namespace kestrivon::core
