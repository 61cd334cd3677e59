#include "core/partial_download.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "core/ascii.h"
#include "core/link_probe.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/path_utf8.h"
#include "core/range_answer.h"

namespace kestrivon::core {
namespace {

constexpr size_t kMaxRecordBytes = 4096;
constexpr std::string_view kRecordSuffix = ".resume";
constexpr std::array<std::string_view, 4> kKeys = {"url=", "size=", "sha256=", "validator="};

bool IsPrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

bool IsHexDigest(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
         });
}

std::optional<uint64_t> ParseSize(std::string_view text) {
  if (text.empty() || text.size() > 20 || text.front() < '0' || text.front() > '9') {
    return std::nullopt;
  }
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0) return std::nullopt;
  return value;
}

bool IsRegularFileNoLink(const std::filesystem::path& path) {
  std::error_code error;
  return !IsLinkOrJunction(path) &&
         std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error));
}

}  // namespace

std::string FormatPartialRecord(const PartialRecord& record) {
  return fmt::format("url={}\nsize={}\nsha256={}\nvalidator={}\n", record.url, record.size,
                     record.sha256, record.validator);
}

std::optional<PartialRecord> ParsePartialRecord(std::string_view text) {
  if (text.size() > kMaxRecordBytes || !text.ends_with('\n')) return std::nullopt;
  std::array<std::string_view, 4> values;
  for (size_t i = 0; i < kKeys.size(); ++i) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (!line.starts_with(kKeys[i]) || !IsPrintableAscii(line)) return std::nullopt;
    values[i] = line.substr(kKeys[i].size());
  }
  if (!text.empty()) return std::nullopt;
  const auto size = ParseSize(values[1]);
  if (!values[0].starts_with("https://") || !size || !IsHexDigest(values[2]) ||
      !IsUsableValidator(values[3])) {
    return std::nullopt;
  }
  return PartialRecord{std::string(values[0]), *size, std::string(values[2]),
                       std::string(values[3])};
}

std::filesystem::path PartialRecordPath(const std::filesystem::path& package) {
  std::filesystem::path record = package;
  record += kRecordSuffix;
  return record;
}

bool RecordNamesEntry(const PartialRecord& record, const UpdateInfo& entry) {
  return record.size == entry.size && DigestsMatch(record.sha256, entry.sha256) &&
         (record.url == entry.url || (!entry.vendorUrl.empty() && record.url == entry.vendorUrl));
}

uint64_t ResumableLength(const std::optional<PartialRecord>& record, uint64_t fileSize,
                         const UpdateInfo& entry, std::string_view url) {
  if (!record || record->url != url || !RecordNamesEntry(*record, entry)) return 0;
  return fileSize <= entry.size ? fileSize : 0;
}

std::optional<PartialRecord> ReadPartialRecord(const std::filesystem::path& package) {
  const std::filesystem::path path = PartialRecordPath(package);
  if (!IsRegularFileNoLink(LongPath(path))) return std::nullopt;
  std::ifstream stream(LongPath(path), std::ios::binary);
  if (!stream) return std::nullopt;
  std::string text(kMaxRecordBytes + 1, '\0');
  stream.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(stream.gcount()));
  return ParsePartialRecord(text);
}

void WritePartialRecord(const std::filesystem::path& package, const PartialRecord& record) {
  const std::filesystem::path path = PartialRecordPath(package);
  std::ofstream stream(LongPath(path), std::ios::binary | std::ios::trunc);
  stream << FormatPartialRecord(record);
  stream.flush();
  if (!stream) {
    LogFormat(LogLevel::Warning, "Can't write {}; the download can't be resumed later",
              PathToUtf8(path));
  }
}

void DiscardPartialDownload(const std::filesystem::path& package) {
  std::error_code ignored;
  std::filesystem::remove(LongPath(PartialRecordPath(package)), ignored);
  std::filesystem::remove(LongPath(package), ignored);
}

void DiscardPartialDownloads(
    const std::filesystem::path& root,
    const std::function<bool(const std::filesystem::path&, const PartialRecord&)>& wanted) {
  const std::filesystem::path folder = root / "temp";
  std::vector<std::filesystem::path> packages;
  std::error_code error;
  std::filesystem::directory_iterator it(LongPath(folder), error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::string name = PathToUtf8(it->path().filename());
    if (name.size() > kRecordSuffix.size() && name.ends_with(kRecordSuffix)) {
      packages.push_back(folder / PathFromUtf8(name.substr(0, name.size() - kRecordSuffix.size())));
    }
  }
  for (const std::filesystem::path& package : packages) {
    const auto record = ReadPartialRecord(package);
    if (record && wanted(package, *record)) continue;
    LogFormat(LogLevel::Info, "Removing the partial download {}", PathToUtf8(package.filename()));
    DiscardPartialDownload(package);
  }
}

}  // namespace kestrivon::core
