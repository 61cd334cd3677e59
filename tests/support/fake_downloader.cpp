#include "tests/support/fake_downloader.h"

#include <fstream>

#include <fmt/format.h>

namespace kestrivon::testing {

void FakeDownloader::Script(const std::string& url, std::vector<Outcome> outcomes) {
  scripts_[url] = std::deque<Outcome>(outcomes.begin(), outcomes.end());
}

std::expected<void, core::DownloadError> FakeDownloader::Download(
    const std::string& url, const std::filesystem::path& destination,
    const core::DownloadPolicy& policy, const core::ProgressCallback& progress) const {
  calls_.push_back(fmt::format("{} {} {} {} {} {}", policy.label, url, policy.attempts,
                               policy.connectTimeoutSeconds, policy.minBytesPerSecond,
                               policy.windowSeconds));
  auto found = scripts_.find(url);
  if (found == scripts_.end() || found->second.empty()) {
    return std::unexpected(core::DownloadError{"HTTP 404", false});
  }
  Outcome outcome = found->second.front();
  if (found->second.size() > 1) found->second.pop_front();

  std::ofstream(destination, std::ios::binary | std::ios::trunc) << outcome.body;
  if (progress) progress(outcome.body.size(), outcome.succeed ? outcome.body.size() : 0);
  if (outcome.cancel) cancelled_ = true;
  if (!outcome.succeed) {
    return std::unexpected(core::DownloadError{outcome.message, outcome.retryable});
  }
  return {};
}

bool FakeDownloader::WaitFor(int milliseconds) const {
  waits_.push_back(milliseconds);
  if (cancelDuringWait_ == static_cast<int>(waits_.size())) cancelled_ = true;
  return !cancelled_;
}

}  // namespace kestrivon::testing
