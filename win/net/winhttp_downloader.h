#pragma once

// HTTPS GET over WinHTTP in synchronous mode: component downloads into a file and the
// manifest fetch into memory, with time-outs, a minimum-speed rule, retry classification
// and cancellation through the process-wide flag.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

#include "core/updater_host.h"

namespace kestrivon::win {

// Stateless: every instance shares the process-wide session, flag and handle registry.
// Transfers run on the update worker thread, one at a time.
class WinHttpDownloader final : public core::Downloader {
 public:
  // Errors are retryable exactly when a later attempt of the same URL may succeed.
  std::expected<void, core::DownloadError> Download(
      const std::string& url, const std::filesystem::path& destination,
      const core::DownloadPolicy& policy, const core::ProgressCallback& progress) const override;

  // Sleeps in steps of at most 50 ms; false as soon as cancellation is seen.
  bool WaitFor(int milliseconds) const override;

  bool IsCancelled() const override;

  // GET into memory, with gzip/deflate accepted and proxy caches bypassed; fails once the
  // body would exceed `maxBytes`.
  std::expected<std::string, std::string> FetchText(const std::wstring& url,
                                                    int64_t timeoutMilliseconds,
                                                    uint64_t maxBytes) const;
};

// Sets the cancellation flag for the rest of the process, then closes every open
// connection and request so that a blocked send or read fails at once. Any thread.
void RequestCancel();

// "Kestrivon-Updater/" + updaterVersion + " (Windows)".
std::wstring UserAgent();

}  // namespace kestrivon::win
