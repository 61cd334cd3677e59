#pragma once

// Fetching one manifest entry from its sources with retries, accepting only a file whose
// size and SHA-256 match.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/content_hosts.h"
#include "core/updater_host.h"

namespace kestrivon::core {

// Pause before attempt 2, 3, and 4 or later of the same source.
inline constexpr int retryDelaysMs[] = {1000, 3000, 5000};

enum class DownloadFailure : uint8_t {
  Transfer = 0,   // every source failed; the last failure was a transfer
  Integrity = 1,  // every source failed; the last failure was a verification
  Cancelled = 2,
};

// On success the verified file stays at `destination`; on every failure it is deleted.
std::expected<void, DownloadFailure> DownloadVerified(const UpdateInfo& entry,
                                                      const std::filesystem::path& destination,
                                                      const Downloader& downloader,
                                                      const ProgressCallback& progress);

// ".tar.gz", ".tgz", ".zip", ".gz" or empty, from the URL's last path segment.
std::string ArchiveSuffix(std::string_view url);

// Whether an entry may be downloaded at all (version form, host allowlist, digest, size).
bool IsValidEntry(const UpdateInfo& entry);

}  // namespace kestrivon::core
