#pragma once

// The engine's two interfaces to the outside world. Everything here is platform-independent;
// the Windows host implements both classes.

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/update_records.h"

namespace kestrivon::core {

// Performs transfers. One call of Download is one attempt; the caller retries.
class Downloader {
 public:
  virtual ~Downloader() = default;

  // GET `url` (UTF-8, HTTPS) into `destination`, creating or truncating it.
  virtual std::expected<void, DownloadError> Download(const std::string& url,
                                                      const std::filesystem::path& destination,
                                                      const DownloadPolicy& policy,
                                                      const ProgressCallback& progress) const = 0;

  // Pauses; true when the whole time passed, false as soon as cancellation was requested.
  virtual bool WaitFor(int milliseconds) const = 0;

  // True once the user asked to cancel; never false again within the process.
  virtual bool IsCancelled() const = 0;
};

// Everything the engine needs from the platform. Held by reference for one run.
class UpdaterHost {
 public:
  virtual ~UpdaterHost() = default;

  virtual std::filesystem::path InstallDir() = 0;
  virtual void SetStage(Stage stage, std::optional<Component> component, int percent) = 0;
  virtual ProgressCallback MakeDownloadProgress(std::optional<Component> component, int basePercent,
                                                int spanPercent) = 0;
  virtual void ShowFailure(Failure failure, std::optional<Component> component) = 0;
  virtual bool ConfirmComponentUpdates(const std::vector<PendingUpdate>& updates) = 0;
  virtual bool ConfirmUpdaterUpdate(const UpdateInfo& updater) = 0;
  // One attempt; the engine retries.
  virtual std::expected<std::string, std::string> FetchManifestText() = 0;
  virtual Downloader& GetDownloader() = 0;
  virtual bool IsInstalled(Component component) = 0;
  virtual std::expected<void, std::string> InstallComponent(Component component,
                                                            const std::filesystem::path& archive,
                                                            int basePercent, int spanPercent) = 0;
  // True when the new updater is running and this process must end.
  virtual bool ApplyUpdaterUpdate(const std::filesystem::path& package) = 0;
};

}  // namespace kestrivon::core
