#include "core/manifest.h"

#include <algorithm>

#include <fmt/format.h>

#include "core/json_read.h"
#include "core/log.h"
#include "core/verified_download.h"

namespace kestrivon::core {
namespace {

uint64_t SizeMember(const nlohmann::json& object) {
  const auto found = object.find("size");
  if (found == object.end()) return 0;
  uint64_t size = 0;
  if (found->is_number_unsigned()) {
    size = found->get<uint64_t>();
  } else if (found->is_number_integer() && found->get<int64_t>() >= 0) {
    size = static_cast<uint64_t>(found->get<int64_t>());
  }
  return size <= maxEntrySize ? size : 0;
}

// Lenient: never fails, only leaves fields empty. Always sets `present`.
UpdateInfo ParseEntry(const nlohmann::json& value) {
  UpdateInfo entry;
  entry.present = true;
  if (!value.is_object()) return entry;
  entry.version = StringMember(value, "version");
  entry.url = StringMember(value, "url");
  entry.vendorUrl = StringMember(value, "vendorUrl");
  entry.sha256 = StringMember(value, "sha256");
  entry.size = SizeMember(value);
  return entry;
}

}  // namespace

std::string_view PlatformKey() { return "win"; }

std::expected<Manifest, std::string> ParseManifest(std::string_view text,
                                                   std::string_view platformKey) {
  auto document = ParseJson(text);
  if (!document) return std::unexpected(std::move(document.error()));
  if (!document->is_object()) return std::unexpected(std::string("manifest is not a JSON object"));

  const auto platform = document->find(std::string(platformKey));
  if (platform == document->end() || !platform->is_object()) {
    return std::unexpected(fmt::format("manifest has no \"{}\" object", platformKey));
  }

  Manifest manifest;
  const auto read = [&platform](const char* key, UpdateInfo& entry) {
    const auto found = platform->find(key);
    if (found != platform->end()) entry = ParseEntry(*found);
  };
  read("launcher", manifest.launcher);
  read("jre", manifest.jre);
  read("updater", manifest.updater);

  if (!IsValidEntry(manifest.launcher)) {
    return std::unexpected(std::string("launcher entry is missing or invalid"));
  }
  if (manifest.jre.present && !IsValidEntry(manifest.jre)) {
    return std::unexpected(std::string("jre entry is invalid"));
  }
  if (manifest.updater.present && !IsValidEntry(manifest.updater)) {
    return std::unexpected(std::string("updater entry is invalid"));
  }
  return manifest;
}

std::optional<Manifest> FetchManifest(UpdaterHost& host) {
  const Downloader& downloader = host.GetDownloader();
  for (int attempt = 1; attempt <= manifestAttempts; ++attempt) {
    if (downloader.IsCancelled()) return std::nullopt;
    if (attempt > 1) {
      const int delay = manifestRetryDelaysMs[std::min(attempt - 2, 2)];
      if (!downloader.WaitFor(delay)) return std::nullopt;
    }
    auto text = host.FetchManifestText();
    if (!text) {
      LogFormat(LogLevel::Warning, "Manifest download failed (attempt {}/{}): {}", attempt,
                manifestAttempts, text.error());
      continue;
    }
    auto manifest = ParseManifest(*text, PlatformKey());
    if (!manifest) {
      LogFormat(LogLevel::Warning, "Invalid manifest (attempt {}/{}): {}", attempt,
                manifestAttempts, manifest.error());
      continue;
    }
    return std::move(*manifest);
  }
  LogFormat(LogLevel::Error, "Manifest unavailable after {} attempts", manifestAttempts);
  return std::nullopt;
}

}  // namespace kestrivon::core
