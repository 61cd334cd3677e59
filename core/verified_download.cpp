#include "core/verified_download.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "core/ascii.h"
#include "core/escaped_text.h"
#include "core/file_digest.h"
#include "core/log.h"
#include "core/long_path.h"
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

void DeleteFile(const std::filesystem::path& file) {
  std::error_code ignored;
  std::filesystem::remove(LongPath(file), ignored);
}

// Empty when the file matches the entry's size and SHA-256, else the reason.
std::string CheckIntegrity(const std::filesystem::path& file, const UpdateInfo& entry,
                           const Downloader& downloader) {
  std::error_code error;
  uint64_t actual = std::filesystem::file_size(LongPath(file), error);
  if (error) actual = 0;
  if (error || actual != entry.size) {
    return fmt::format("size {} != expected {}", actual, entry.size);
  }
  auto digest = Sha256File(file, [&downloader] { return downloader.IsCancelled(); });
  if (!digest) return std::move(digest.error());
  if (!DigestsMatch(*digest, entry.sha256)) {
    return fmt::format("sha256 {} != expected {}", *digest, entry.sha256);
  }
  return {};
}

}  // namespace

std::expected<void, DownloadFailure> DownloadVerified(const UpdateInfo& entry,
                                                      const std::filesystem::path& destination,
                                                      const Downloader& downloader,
                                                      const ProgressCallback& progress) {
  std::vector<DownloadSource> sources;
  if (!entry.vendorUrl.empty()) sources.push_back({entry.vendorUrl, kVendorPolicy});
  sources.push_back({entry.url, kCdnPolicy});

  bool lastFailureWasIntegrity = false;
  for (size_t index = 0; index < sources.size(); ++index) {
    const DownloadSource& source = sources[index];
    const char* label = source.policy.label;

    bool transferred = false;
    for (int32_t attempt = 1; attempt <= source.policy.attempts; ++attempt) {
      if (downloader.IsCancelled()) {
        DeleteFile(destination);
        return std::unexpected(DownloadFailure::Cancelled);
      }
      if (attempt > 1) {
        const int delay = retryDelaysMs[std::min(attempt - 2, 2)];
        LogFormat(LogLevel::Warning, "Retrying {} download in {} ms (attempt {}/{})", label, delay,
                  attempt, source.policy.attempts);
        if (!downloader.WaitFor(delay)) {
          DeleteFile(destination);
          return std::unexpected(DownloadFailure::Cancelled);
        }
      }
      LogFormat(LogLevel::Info, "Downloading from {}: {}", label, source.url);
      auto result = downloader.Download(source.url, destination, source.policy, progress);
      if (result) {
        transferred = true;
        break;
      }
      DeleteFile(destination);
      LogFormat(LogLevel::Warning, "Download from {} failed: {}", label, result.error().message);
      lastFailureWasIntegrity = false;
      if (!result.error().retryable) break;
    }

    // A source whose transfers all failed is finished; a file that never arrived is not
    // verified.
    if (transferred) {
      const std::string reason = CheckIntegrity(destination, entry, downloader);
      if (reason.empty()) {
        LogFormat(LogLevel::Info, "Downloaded and verified {} from {}",
                  PathToUtf8(destination.filename()), label);
        return {};
      }
      DeleteFile(destination);
      if (downloader.IsCancelled()) return std::unexpected(DownloadFailure::Cancelled);
      LogFormat(LogLevel::Warning, "File from {} failed verification: {}", label, reason);
      lastFailureWasIntegrity = true;
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
  if (entry.sha256.size() != 64 ||
      !std::all_of(entry.sha256.begin(), entry.sha256.end(), IsHexDigit)) {
    return false;
  }
  return entry.size > 0;
}

}  // namespace kestrivon::core
