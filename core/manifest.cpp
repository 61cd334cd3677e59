#include "core/manifest.h"

#include <algorithm>

#include <fmt/format.h>

#include "core/json_read.h"
#include "core/log.h"
#include "core/manifest_signature.h"
#include "core/serial_record.h"
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

// Lenient like the entry: an element that is not a usable delta is left out, the entry stays.
std::vector<DeltaInfo> DeltasMember(const nlohmann::json& object) {
  std::vector<DeltaInfo> deltas;
  const auto found = object.find("deltas");
  if (found == object.end() || !found->is_array()) return deltas;
  for (const nlohmann::json& element : *found) {
    if (deltas.size() == maxDeltasPerEntry) break;
    if (!element.is_object()) continue;
    DeltaInfo delta{.fromSha256 = StringMember(element, "fromSha256"),
                    .url = StringMember(element, "url"),
                    .sha256 = StringMember(element, "sha256"),
                    .size = SizeMember(element),
                    .format = StringMember(element, "format")};
    if (IsValidDelta(delta)) deltas.push_back(std::move(delta));
  }
  return deltas;
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
  entry.deltas = DeltasMember(value);
  return entry;
}

// One fetch, signature check, parse and serial check; each refusal logs its own line.
std::optional<Manifest> AttemptManifest(UpdaterHost& host, const ManifestTrust& trust,
                                        int attempt) {
  auto text = host.FetchManifestText();
  if (!text) {
    LogFormat(LogLevel::Warning, "Manifest download failed (attempt {}/{}): {}", attempt,
              manifestAttempts, text.error());
    return std::nullopt;
  }
  std::string keyId;
  if (!trust.keys.empty()) {
    auto signature = host.FetchManifestSignatureText();
    if (!signature) {
      LogFormat(LogLevel::Warning, "Manifest signature download failed (attempt {}/{}): {}",
                attempt, manifestAttempts, signature.error());
      return std::nullopt;
    }
    auto key = CheckManifestSignature(*text, *signature, trust);
    if (!key) {
      LogFormat(LogLevel::Warning, "Manifest signature refused (attempt {}/{}): {}", attempt,
                manifestAttempts, key.error());
      return std::nullopt;
    }
    keyId = std::move(*key);
  }
  auto manifest = ParseManifest(*text, PlatformKey());
  if (!manifest) {
    LogFormat(LogLevel::Warning, "Invalid manifest (attempt {}/{}): {}", attempt, manifestAttempts,
              manifest.error());
    return std::nullopt;
  }
  if (trust.keys.empty()) return std::move(*manifest);

  const std::filesystem::path root = host.InstallDir();
  const uint64_t highest = ReadHighestSerial(root);
  if (auto fresh = CheckSerial(manifest->serial, highest); !fresh) {
    LogFormat(LogLevel::Warning, "Manifest refused (attempt {}/{}): {}", attempt, manifestAttempts,
              fresh.error());
    return std::nullopt;
  }
  LogFormat(LogLevel::Info, "Manifest signature verified (key {}), serial {}", keyId,
            manifest->serial);
  // A failed write is logged; the check then rests on the number remembered before.
  if (manifest->serial > highest) static_cast<void>(WriteHighestSerial(root, manifest->serial));
  return std::move(*manifest);
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
  // Older programs ignore it; a mistyped one reads as absent, like every other member.
  const auto serial = document->find("serial");
  if (serial != document->end() && serial->is_number_unsigned()) {
    manifest.serial = serial->get<uint64_t>();
  }

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
  const ManifestTrust trust = host.GetManifestTrust();
  if (trust.keys.empty())
    Log(LogLevel::Warning, "Manifest signatures are not checked by this build");
  for (int attempt = 1; attempt <= manifestAttempts; ++attempt) {
    if (downloader.IsCancelled()) return std::nullopt;
    if (attempt > 1) {
      const int delay = manifestRetryDelaysMs[std::min(attempt - 2, 2)];
      if (!downloader.WaitFor(delay)) return std::nullopt;
    }
    if (auto manifest = AttemptManifest(host, trust, attempt)) return manifest;
  }
  LogFormat(LogLevel::Error, "Manifest unavailable after {} attempts", manifestAttempts);
  return std::nullopt;
}

}  // namespace kestrivon::core
