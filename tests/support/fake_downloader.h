#pragma once

// A Downloader scripted per URL that records every call.

#include <deque>
#include <functional>
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
    std::function<void()> during;  // runs inside the call, e.g. to request cancellation
  };
  static Outcome Deliver(std::string body) { return {std::move(body), true, {}, false, {}}; }
  static Outcome Fail(std::string message, bool retryable, std::string partial = {}) {
    return {std::move(partial), false, std::move(message), retryable, {}};
  }

  struct Call {
    std::string url;
    std::filesystem::path destination;
    int32_t attempts;
    int64_t connectTimeoutSeconds;
    uint64_t minBytesPerSecond;
    int64_t windowSeconds;
    std::string label;
    bool operator==(const Call&) const = default;
  };

  // Outcomes are used in order; the last one repeats. Unscripted URLs fail for good.
  void Script(const std::string& url, std::vector<Outcome> outcomes);

  void RequestCancel() const { cancelled_ = true; }
  // Cancellation requested while the n-th pause (1-based) is under way.
  void CancelDuringWait(int n) { cancelDuringWait_ = n; }
  // Cancellation requested at the n-th IsCancelled query (1-based).
  void CancelAtQuery(int n) { cancelAtQuery_ = n; }

  std::expected<void, core::DownloadError> Download(
      const std::string& url, const std::filesystem::path& destination,
      const core::DownloadPolicy& policy, const core::ProgressCallback& progress) const override;
  bool WaitFor(int milliseconds) const override;
  bool IsCancelled() const override;

  const std::vector<Call>& calls() const { return calls_; }
  const std::vector<int>& waits() const { return waits_; }
  int cancelQueries() const { return queries_; }

 private:
  mutable std::map<std::string, std::deque<Outcome>> scripts_;
  mutable std::vector<Call> calls_;
  mutable std::vector<int> waits_;
  mutable bool cancelled_ = false;
  mutable int queries_ = 0;
  int cancelDuringWait_ = 0;
  int cancelAtQuery_ = 0;
};

}  // namespace kestrivon::testing
