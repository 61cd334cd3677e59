#include "tests/support/fake_downloader.h"

#include <fstream>

#include <fmt/format.h>

namespace kestrivon::testing {

std::expected<void, core::DownloadError> FakeDownloader::Download(
    const std::string& url, const std::filesystem::path& destination,
    const core::DownloadPolicy& policy, const core::ProgressCallback& progress) const {
  calls.push_back(fmt::format("{} {} {} {} {} {}", policy.label, url, policy.attempts,
                              policy.connectTimeoutSeconds, policy.minBytesPerSecond,
                              policy.windowSeconds));
  const auto found = outcomes.find(url);
  if (found == outcomes.end()) return std::unexpected(core::DownloadError{"HTTP 404", false});
  const Outcome& outcome = found->second;
  std::ofstream(destination, std::ios::binary | std::ios::trunc) << outcome.body;
  if (progress) progress(outcome.body.size(), outcome.error ? 0 : outcome.body.size());
  if (outcome.cancel) cancelled = true;
  if (outcome.error) return std::unexpected(*outcome.error);
  return {};
}

bool FakeDownloader::WaitFor(int milliseconds) const {
  waits.push_back(milliseconds);
  if (cancelDuringWait == static_cast<int>(waits.size())) cancelled = true;
  return !cancelled;
}

}  // namespace kestrivon::testing
