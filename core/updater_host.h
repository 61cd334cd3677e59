#pragma once

// The engine's two interfaces to the outside world. Everything here is platform-independent;
// the Windows host implements both classes.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/file_digest.h"
#include "core/manifest_signature.h"
#include "core/update_records.h"

namespace kestrivon::core {

// What the attempts on one source share. The downloader keeps it in step with the file: the
// first `kept` bytes of the destination are the body's and have been fed to `digest`.
struct TransferState {
  uint64_t expectedSize = 0;  // the manifest's size; a body never grows past it
  uint64_t kept = 0;
  std::string validator;  // what the kept bytes' response was recognised by (for If-Range)
  Sha256 digest;
  // Called when a body starts to be written (afresh or appended) and `validator` is set, so
  // that the engine can record the partial file for a later run before bytes arrive.
  std::function<void(const TransferState&)> bodyStarting;

  void StartAfresh() {
    kept = 0;
    validator.clear();
    digest = Sha256();
  }
};

// Performs transfers. One call of Download is one attempt; the caller retries.
class Downloader {
 public:
  virtual ~Downloader() = default;

  // GET `url` (UTF-8, HTTPS) into `destination`. With `state.kept` bytes and a validator it
  // asks for the rest and appends when the answer allows, else writes from zero. Progress
  // counts the kept bytes, against the expected size when it is known.
  virtual std::expected<void, DownloadError> Download(const std::string& url,
                                                      const std::filesystem::path& destination,
                                                      const DownloadPolicy& policy,
                                                      const ProgressCallback& progress,
                                                      TransferState& state) const = 0;

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
  // One attempt at the manifest's detached signature; asked only when keys are built in.
  virtual std::expected<std::string, std::string> FetchManifestSignatureText() = 0;
  virtual ManifestTrust GetManifestTrust() = 0;
  virtual Downloader& GetDownloader() = 0;
  virtual bool IsInstalled(Component component) = 0;
  virtual std::expected<void, std::string> InstallComponent(Component component,
                                                            const std::filesystem::path& archive,
                                                            int basePercent, int spanPercent) = 0;
  // The format of delta this host can build components from; empty when none.
  virtual std::string DeltaFormat() = 0;
  // Builds the component's new version from the installed copy and the verified `delta`, then
  // puts it in place like InstallComponent; on failure the installed copy is as it was.
  virtual std::expected<void, std::string> InstallComponentFromDelta(
      Component component, const std::filesystem::path& delta, int basePercent,
      int spanPercent) = 0;
  // True when the new updater is running and this process must end.
  virtual bool ApplyUpdaterUpdate(const std::filesystem::path& package) = 0;
};

}  // namespace kestrivon::core
