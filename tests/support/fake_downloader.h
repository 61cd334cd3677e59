#pragma once

// A Downloader scripted per URL that records every call.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/updater_host.h"

namespace kestrivon::testing {

class FakeDownloader : public core::Downloader {
 public:
  // What every Download of one URL does: write `body` to the destination (also on failure, to
  // prove that a partial file is deleted), then succeed or fail with `error`.
  struct Outcome {
    std::string body{};
    std::optional<core::DownloadError> error{};
    bool cancel = false;  // cancellation is requested during the transfer
  };
  std::map<std::string, Outcome> outcomes;  // unscripted URLs fail for good
  mutable bool cancelled = false;
  int cancelDuringWait = 0;  // the n-th pause (1-based) is cancelled

  // "{label} {url} {attempts} {connect s} {min bytes/s} {window s}" per transfer; every pause.
  mutable std::vector<std::string> calls;
  mutable std::vector<int> waits;

  std::expected<void, core::DownloadError> Download(
      const std::string& url, const std::filesystem::path& destination,
      const core::DownloadPolicy& policy, const core::ProgressCallback& progress) const override;
  bool WaitFor(int milliseconds) const override;
  bool IsCancelled() const override { return cancelled; }
};

}  // namespace kestrivon::testing
