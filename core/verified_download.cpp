#include "core/verified_download.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <vector>

#include "core/ascii.h"
#include "core/escaped_text.h"
#include "core/file_digest.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/partial_download.h"
#include "core/path_utf8.h"

namespace kestrivon::core {
namespace {

struct DownloadSource {
  const std::string& url;
  DownloadPolicy policy;
};

constexpr DownloadPolicy kVendorPolicy{1, 10, 65'536, 20, "vendor"};
constexpr DownloadPolicy kCdnPolicy{4, 10, 1'024, 60, "CDN"};

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "1.2.3" followed by anything: three runs of digits joined by single dots.
bool StartsWithThreeNumbers(std::string_view version) {
  size_t position = 0;
  for (int run = 0; run < 3; ++run) {
    if (run > 0) {
      if (position >= version.size() || version[position] != '.') return false;
      ++position;
    }
    const size_t start = position;
    while (position < version.size() && IsDigit(version[position])) ++position;
    if (position == start) return false;
  }
  return true;
}

// "https://" + host, then the end or a '/'. No port, no user information, exact case.
bool IsUrlOnHost(std::string_view url, std::string_view host) {
  constexpr std::string_view scheme = "https://";
  if (!url.starts_with(scheme)) return false;
  const std::string_view rest = url.substr(scheme.size());
  if (!rest.starts_with(host)) return false;
  return rest.size() == host.size() || rest[host.size()] == '/';
}

// The free space a download asks for: the bytes still to come, and what the extractor will
// ask for once the package is complete.
constexpr uint64_t kExtractionSpaceFactor = 3;

bool IsResumable(const TransferState& state) { return state.kept > 0 && !state.validator.empty(); }

// Empty when the transferred file matches the entry's size and SHA-256, else the reason. The
// digest was computed while the bytes arrived.
std::string CheckIntegrity(const std::filesystem::path& file, const UpdateInfo& entry,
                           const TransferState& state) {
  std::error_code error;
  uint64_t actual = std::filesystem::file_size(LongPath(file), error);
  if (error) actual = 0;
  if (error || actual != entry.size || state.kept != actual) {
    return fmt::format("size {} != expected {}", actual, entry.size);
  }
  Sha256 digest = state.digest;
  const std::string text = ToHex(digest);
  if (!DigestsMatch(text, entry.sha256)) {
    return fmt::format("sha256 {} != expected {}", text, entry.sha256);
  }
  return {};
}

// A partial file that an earlier run kept for this entry: its prefix is hashed from disk and
// `state` set up for the source it came from, whose index is returned. Anything else at
// `destination` goes, and the sources are tried from the first.
size_t TakeKeptPartial(const UpdateInfo& entry, const std::vector<DownloadSource>& sources,
                       const std::filesystem::path& destination, const Downloader& downloader,
                       TransferState& state) {
  const auto record = ReadPartialRecord(destination);
  std::error_code error;
  const uint64_t fileSize = std::filesystem::file_size(LongPath(destination), error);
  for (size_t index = 0; record && !error && index < sources.size(); ++index) {
    const uint64_t length = ResumableLength(record, fileSize, entry, sources[index].url);
    if (length == 0) continue;
    const auto hashed = HashFilePrefix(destination, length, state.digest,
                                       [&downloader] { return downloader.IsCancelled(); });
    if (!hashed) break;
    state.kept = length;
    state.validator = record->validator;
    return index;
  }
  state.StartAfresh();
  DiscardPartialDownload(destination);
  return 0;
}

bool HasRoomFor(const UpdateInfo& entry, const TransferState& state,
                const std::filesystem::path& destination) {
  const std::optional<uint64_t> available = AvailableBytes(destination.parent_path());
  // Unknown: the extractor checks the space again before it writes.
  if (!available) return true;
  const uint64_t needed = entry.size - state.kept + entry.size * kExtractionSpaceFactor;
  if (*available >= needed) return true;
  LogFormat(LogLevel::Error, "Not enough free disk space for {}: {} MiB needed, {} MiB free",
            PathToUtf8(destination.filename()), needed >> 20, *available >> 20);
  return false;
}

enum class SourceOutcome : uint8_t { Verified, TransferFailed, IntegrityFailed, Cancelled };

// The attempts on one source. A failed attempt keeps what can be resumed; a resumed file that
// fails verification is fetched once more from zero, since the kept bytes may be the fault.
SourceOutcome TrySource(const DownloadSource& source, const UpdateInfo& entry,
                        const std::filesystem::path& destination, const Downloader& downloader,
                        const ProgressCallback& progress, TransferState& state) {
  const char* label = source.policy.label;
  const std::string name = PathToUtf8(destination.filename());
  bool holdsEarlierBytes = false;
  SourceOutcome outcome = SourceOutcome::TransferFailed;
  for (int32_t attempt = 1; attempt <= source.policy.attempts; ++attempt) {
    if (downloader.IsCancelled()) return SourceOutcome::Cancelled;
    if (attempt > 1) {
      const int delay = retryDelaysMs[std::min(attempt - 2, 2)];
      LogFormat(LogLevel::Warning, "Retrying {} download in {} ms (attempt {}/{})", label, delay,
                attempt, source.policy.attempts);
      if (!downloader.WaitFor(delay)) return SourceOutcome::Cancelled;
    }
    if (IsResumable(state)) {
      LogFormat(LogLevel::Info, "Resuming {} at {} of {} bytes", name, state.kept, entry.size);
      holdsEarlierBytes = true;
    }
    // A file kept whole (a run ended before verifying it) needs no request at all.
    std::expected<void, DownloadError> result;
    if (!IsResumable(state) || state.kept != entry.size) {
      LogFormat(LogLevel::Info, "Downloading from {}: {}", label, source.url);
      result = downloader.Download(source.url, destination, source.policy, progress, state);
    }
    if (!result) {
      if (!IsResumable(state)) {
        state.StartAfresh();
        DiscardPartialDownload(destination);
      }
      LogFormat(LogLevel::Warning, "Download from {} failed: {}", label, result.error().message);
      outcome = SourceOutcome::TransferFailed;
      if (!result.error().retryable) break;
      continue;
    }
    if (downloader.IsCancelled()) return SourceOutcome::Cancelled;
    const std::string reason = CheckIntegrity(destination, entry, state);
    if (reason.empty()) return SourceOutcome::Verified;
    state.StartAfresh();
    DiscardPartialDownload(destination);
    LogFormat(LogLevel::Warning, "File from {} failed verification: {}", label, reason);
    outcome = SourceOutcome::IntegrityFailed;
    if (!holdsEarlierBytes) break;
    holdsEarlierBytes = false;
  }
  return outcome;
}

}  // namespace

std::expected<void, DownloadFailure> DownloadVerified(const UpdateInfo& entry,
                                                      const std::filesystem::path& destination,
                                                      const Downloader& downloader,
                                                      const ProgressCallback& progress) {
  std::vector<DownloadSource> sources;
  if (!entry.vendorUrl.empty()) sources.push_back({entry.vendorUrl, kVendorPolicy});
  sources.push_back({entry.url, kCdnPolicy});

  TransferState state;
  state.expectedSize = entry.size;
  const size_t first = TakeKeptPartial(entry, sources, destination, downloader, state);
  if (!HasRoomFor(entry, state, destination)) return std::unexpected(DownloadFailure::NoSpace);

  const std::string* currentUrl = nullptr;
  state.bodyStarting = [&](const TransferState& starting) {
    WritePartialRecord(destination, {*currentUrl, entry.size, entry.sha256, starting.validator});
  };
  bool lastFailureWasIntegrity = false;
  for (size_t index = first; index < sources.size(); ++index) {
    const DownloadSource& source = sources[index];
    currentUrl = &source.url;
    if (index > first) {  // another source starts afresh
      state.StartAfresh();
      DiscardPartialDownload(destination);
    }
    switch (TrySource(source, entry, destination, downloader, progress, state)) {
      case SourceOutcome::Verified: {
        std::error_code ignored;
        std::filesystem::remove(LongPath(PartialRecordPath(destination)), ignored);
        LogFormat(LogLevel::Info, "Downloaded and verified {} from {}",
                  PathToUtf8(destination.filename()), source.policy.label);
        return {};
      }
      case SourceOutcome::Cancelled:
        // What can be resumed stays for the next run, with its record.
        if (!IsResumable(state)) DiscardPartialDownload(destination);
        return std::unexpected(DownloadFailure::Cancelled);
      case SourceOutcome::IntegrityFailed:
        lastFailureWasIntegrity = true;
        break;
      case SourceOutcome::TransferFailed:
        lastFailureWasIntegrity = false;
        break;
    }
    if (index + 1 < sources.size()) Log(LogLevel::Info, "Falling back to the next source");
  }
  return std::unexpected(lastFailureWasIntegrity ? DownloadFailure::Integrity
                                                 : DownloadFailure::Transfer);
}

std::string ArchiveSuffix(std::string_view url) {
  const size_t cut = url.find_first_of("?#");
  if (cut != std::string_view::npos) url = url.substr(0, cut);
  const size_t slash = url.rfind('/');
  if (slash != std::string_view::npos) url = url.substr(slash + 1);

  std::string name(url);
  std::transform(name.begin(), name.end(), name.begin(), AsciiLower);
  for (const std::string_view suffix : {".tar.gz", ".tgz", ".zip", ".gz"}) {
    if (name.ends_with(suffix)) return std::string(suffix);
  }
  return {};
}

namespace {

bool IsDigest(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), IsHexDigit);
}

}  // namespace

bool IsValidDelta(const DeltaInfo& delta) {
  constexpr size_t kMaxFormatLength = 32;
  const bool plainFormat =
      !delta.format.empty() && delta.format.size() <= kMaxFormatLength &&
      std::all_of(delta.format.begin(), delta.format.end(), [](char c) {
        return IsAsciiLetter(c) || IsDigit(c) || c == '-' || c == '.' || c == '_';
      });
  return plainFormat && IsUrlOnHost(delta.url, cdnHost) && IsDigest(delta.fromSha256) &&
         IsDigest(delta.sha256) && delta.size > 0 && delta.size <= kMaxPackageBytes;
}

UpdateInfo DeltaDownload(const UpdateInfo& entry, const DeltaInfo& delta) {
  return UpdateInfo{.present = true,
                    .version = entry.version,
                    .url = delta.url,
                    .vendorUrl = {},
                    .sha256 = delta.sha256,
                    .size = delta.size};
}

const DeltaInfo* FindDelta(const UpdateInfo& entry, std::string_view installedSha256,
                           std::string_view format) {
  for (const DeltaInfo& delta : entry.deltas) {
    if (delta.format == format && DigestsMatch(delta.fromSha256, installedSha256)) return &delta;
  }
  return nullptr;
}

bool IsValidEntry(const UpdateInfo& entry) {
  if (!entry.present) return false;
  if (!StartsWithThreeNumbers(entry.version)) return false;
  // It is logged and shown: no text from the server may forge a line or reverse it.
  if (HasControlOrBidiCharacter(entry.version)) return false;
  if (!IsUrlOnHost(entry.url, cdnHost)) return false;
  if (!entry.vendorUrl.empty() && std::none_of(allowedVendorHosts.begin(), allowedVendorHosts.end(),
                                               [&entry](std::string_view host) {
                                                 return IsUrlOnHost(entry.vendorUrl, host);
                                               })) {
    return false;
  }
  if (!IsDigest(entry.sha256)) return false;
  return entry.size > 0 && entry.size <= kMaxPackageBytes;
}

}  // namespace kestrivon::core
