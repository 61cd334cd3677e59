#pragma once

// HTTPS GET over WinHTTP in synchronous mode: component downloads into a file and the
// manifest fetch into memory, with time-outs, a minimum-speed rule, retry classification
// and cancellation through the process-wide flag.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

#include "core/updater_host.h"

namespace kestrivon::win {

// How long one in-memory fetch (the manifest, its signature) may take from the first byte
// sent to the last byte received.
inline constexpr std::chrono::milliseconds kFetchDeadline{30'000};

// Stateless: every instance shares the process-wide session, flag and handle registry.
// Transfers run on the update worker thread, one at a time.
class WinHttpDownloader final : public core::Downloader {
 public:
  // Errors are retryable exactly when a later attempt of the same URL may succeed. Redirects
  // are followed over HTTPS to any host, each one logged.
  std::expected<void, core::DownloadError> Download(const std::string& url,
                                                    const std::filesystem::path& destination,
                                                    const core::DownloadPolicy& policy,
                                                    const core::ProgressCallback& progress,
                                                    core::TransferState& state) const override;

  // Sleeps in steps of at most 50 ms; false as soon as cancellation is seen.
  bool WaitFor(int milliseconds) const override;

  bool IsCancelled() const override;

  // GET into memory, with gzip/deflate accepted and proxy caches bypassed; fails once the
  // body would exceed `maxBytes` or the whole answer takes longer than `deadline`. Redirects
  // are followed only on the host asked.
  std::expected<std::string, std::string> FetchText(
      const std::wstring& url, int64_t timeoutMilliseconds, uint64_t maxBytes,
      std::chrono::milliseconds deadline = kFetchDeadline) const;
};

// Sets the cancellation flag for the rest of the process, then closes every open
// connection and request so that a blocked send or read fails at once. Any thread.
void RequestCancel();

// "Kestrivon-Updater/" + updaterVersion + " (Windows)".
std::wstring UserAgent();

}  // namespace kestrivon::win
