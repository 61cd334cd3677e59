// Fuzz target: the installed-version record reader, from text and from the file. Whatever is
// read must survive a write and a read back unchanged, since every run rewrites the record.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "core/installed_versions.h"
#include "fuzz/fuzz_check.h"

namespace {

namespace core = kestrivon::core;
using kestrivon::fuzz::Check;

bool Same(const core::InstalledVersions& a, const core::InstalledVersions& b) {
  return a.launcher.version == b.launcher.version && a.launcher.sha256 == b.launcher.sha256 &&
         a.jre.version == b.jre.version && a.jre.sha256 == b.jre.sha256 &&
         a.updaterArchiveSha256 == b.updaterArchiveSha256;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const core::InstalledVersions record = core::ParseInstalledVersions(text);
  Check(Same(core::ParseInstalledVersions(core::SerializeInstalledVersions(record)), record),
        "record changed by a round trip");

  const std::filesystem::path& root = kestrivon::fuzz::ScratchFolder("versions");
  const std::filesystem::path file = core::VersionsFilePath(root);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  Check(Same(core::ReadInstalledVersions(root), record), "file reads differently from text");
  return 0;
}
