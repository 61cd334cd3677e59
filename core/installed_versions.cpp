#include "core/installed_versions.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include <nlohmann/json.hpp>

#include "core/file_replace.h"
#include "core/json_read.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/path_utf8.h"

namespace kestrivon::core {
namespace {

InstalledComponent ComponentMember(const nlohmann::json& document, const char* key) {
  const auto found = document.find(key);
  if (found == document.end() || !found->is_object()) return {};
  return {StringMember(*found, "version"), StringMember(*found, "sha256")};
}

}  // namespace

std::filesystem::path VersionsFilePath(const std::filesystem::path& root) {
  return root / "config" / "versions.json";
}

InstalledVersions ReadInstalledVersions(const std::filesystem::path& root) {
  std::ifstream stream(LongPath(VersionsFilePath(root)), std::ios::binary);
  if (!stream.is_open()) return {};
  const std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
  return ParseInstalledVersions(text);
}

InstalledVersions ParseInstalledVersions(std::string_view text) {
  const auto document = ParseJson(text);
  if (!document || !document->is_object()) return {};
  InstalledVersions record;
  record.launcher = ComponentMember(*document, "launcher");
  record.jre = ComponentMember(*document, "jre");
  record.updaterArchiveSha256 = StringMember(*document, "updater_archive_sha256");
  return record;
}

std::string SerializeInstalledVersions(const InstalledVersions& record) {
  // nlohmann's default object type keeps keys sorted, which gives the file its fixed order.
  const nlohmann::json document = {
      {"launcher", {{"version", record.launcher.version}, {"sha256", record.launcher.sha256}}},
      {"jre", {{"version", record.jre.version}, {"sha256", record.jre.sha256}}},
      {"updater_archive_sha256", record.updaterArchiveSha256},
  };
  // Fields come from parsed JSON and are valid UTF-8; replacing instead of throwing keeps a
  // damaged text from ever aborting the write.
  return document.dump(2, ' ', /*ensure_ascii=*/false, nlohmann::json::error_handler_t::replace);
}

bool WriteInstalledVersions(const std::filesystem::path& root, const InstalledVersions& record) {
  return ReplaceFileText(VersionsFilePath(root), SerializeInstalledVersions(record) + '\n');
}

}  // namespace kestrivon::core
