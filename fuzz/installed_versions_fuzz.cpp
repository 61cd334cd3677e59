// Fuzz target: the installed-version record reader, from text and from the file. Whatever is
// read must survive a write and a read back unchanged, since every run rewrites the record.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/installed_versions.h"
#include "fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
namespace core = kestrivon::core;
using kestrivon::fuzz::Check;

bool Same(const core::InstalledVersions& a, const core::InstalledVersions& b) {
  return a.launcher.version == b.launcher.version && a.launcher.sha256 == b.launcher.sha256 &&
         a.jre.version == b.jre.version && a.jre.sha256 == b.jre.sha256 &&
         a.updaterArchiveSha256 == b.updaterArchiveSha256;
}

const fs::path& Root() {
  static const fs::path& root = []() -> const fs::path& {
    const fs::path& folder = kestrivon::fuzz::ScratchFolder("versions");
    fs::create_directories(folder / "config");
    return folder;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const core::InstalledVersions record = core::ParseInstalledVersions(text);

  const std::string written = core::SerializeInstalledVersions(record);
  Check(Same(core::ParseInstalledVersions(written), record), "record changed by a round trip");

  {
    std::ofstream file(core::VersionsFilePath(Root()), std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  Check(Same(core::ReadInstalledVersions(Root()), record), "file reads differently from text");
  return 0;
}
