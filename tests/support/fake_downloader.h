#pragma once

// A Downloader scripted per URL that records every call.

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/updater_host.h"

namespace kestrivon::testing {

class FakeDownloader : public core::Downloader {
 public:
  // What one Download call does: write `body` to the destination (also on failure, to prove
  // that a partial file is deleted), then succeed or fail.
  struct Outcome {
    std::string body;
    bool succeed = true;
    std::string message;
    bool retryable = false;
    bool cancel = false;  // cancellation is requested during the transfer
  };
  static Outcome Deliver(std::string body, bool cancel = false) {
    return {std::move(body), true, {}, false, cancel};
  }
  static Outcome Fail(std::string message, bool retryable, std::string partial = {},
                      bool cancel = false) {
    return {std::move(partial), false, std::move(message), retryable, cancel};
  }

  // Outcomes are used in order; the last one repeats. Unscripted URLs fail for good.
  void Script(const std::string& url, std::vector<Outcome> outcomes);

  void RequestCancel() const { cancelled_ = true; }
  // Cancellation requested while the n-th pause (1-based) is under way.
  void CancelDuringWait(int n) { cancelDuringWait_ = n; }

  std::expected<void, core::DownloadError> Download(
      const std::string& url, const std::filesystem::path& destination,
      const core::DownloadPolicy& policy, const core::ProgressCallback& progress) const override;
  bool WaitFor(int milliseconds) const override;
  bool IsCancelled() const override { return cancelled_; }

  // "{label} {url} {attempts} {connect s} {min bytes/s} {window s}" per call.
  const std::vector<std::string>& calls() const { return calls_; }
  const std::vector<int>& waits() const { return waits_; }

 private:
  mutable std::map<std::string, std::deque<Outcome>> scripts_;
  mutable std::vector<std::string> calls_;
  mutable std::vector<int> waits_;
  mutable bool cancelled_ = false;
  int cancelDuringWait_ = 0;
};

}  // namespace kestrivon::testing
