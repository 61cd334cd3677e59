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

// The extractor's archive limit: a larger package could never be installed.
inline constexpr uint64_t kMaxPackageBytes = 2'147'483'648;

enum class DownloadFailure : uint8_t {
  Transfer = 0,   // every source failed; the last failure was a transfer
  Integrity = 1,  // every source failed; the last failure was a verification
  Cancelled = 2,
  NoSpace = 3,  // the disk cannot hold the package and its extraction; nothing was fetched
};

// On success the verified file stays at `destination`. A failure or cancellation keeps a
// partial file that can be resumed (with its record beside it); anything else is deleted.
std::expected<void, DownloadFailure> DownloadVerified(const UpdateInfo& entry,
                                                      const std::filesystem::path& destination,
                                                      const Downloader& downloader,
                                                      const ProgressCallback& progress);

// ".tar.gz", ".tgz", ".zip", ".gz" or empty, from the URL's last path segment.
std::string ArchiveSuffix(std::string_view url);

// Whether an entry may be downloaded at all (version form, host allowlist, digest, size up to
// the extractor's limit).
bool IsValidEntry(const UpdateInfo& entry);

// Whether a manifest's delta may be downloaded: the entry's rules for the URL (CDN only),
// digests and size, both digests, and a format text of at most 32 plain characters.
bool IsValidDelta(const DeltaInfo& delta);

// The delta as an entry of its own for DownloadVerified: the entry's version, the delta's URL,
// digest and size, no vendor mirror. IsValidEntry holds for it when it holds for the entry.
UpdateInfo DeltaDownload(const UpdateInfo& entry, const DeltaInfo& delta);

// The first delta of the entry in `format` whose source is the installed package, if any.
const DeltaInfo* FindDelta(const UpdateInfo& entry, std::string_view installedSha256,
                           std::string_view format);

}  // namespace kestrivon::core
