// Fuzz target: the installed-version record reader, from text and from the file. Whatever is
// read must survive a write and a read back unchanged, since every run rewrites the record.

#include <filesystem>
#include <fstream>
#include <string_view>
#include <tuple>

#include "core/installed_versions.h"
#include "fuzz/fuzz_check.h"

void kestrivon::fuzz::TestOneInput(std::string_view text) {
  const auto fields = [](const core::InstalledVersions& v) {
    return std::tie(v.launcher.version, v.launcher.sha256, v.jre.version, v.jre.sha256,
                    v.updaterArchiveSha256);
  };
  const core::InstalledVersions record = core::ParseInstalledVersions(text);
  Check(fields(core::ParseInstalledVersions(core::SerializeInstalledVersions(record))) ==
            fields(record),
        "record changed by a round trip");

  const std::filesystem::path& root = ScratchFolder("versions");
  const std::filesystem::path file = core::VersionsFilePath(root);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  Check(fields(core::ReadInstalledVersions(root)) == fields(record),
        "file reads differently from text");
}
