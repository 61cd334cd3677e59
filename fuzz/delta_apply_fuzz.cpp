// Fuzz target: a delta package applied to a fixed installed copy. Nothing appears outside the
// staging folder, the installed copy never changes, and a success leaves in staging exactly
// the files of the package's list.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include "delta/delta_apply.h"
#include "fuzz/delta_fuzz_tree.h"
#include "fuzz/fuzz_check.h"

namespace {

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

void kestrivon::fuzz::TestOneInput(std::string_view bytes) {
  namespace fs = std::filesystem;
  static const std::string big = InstalledBig();
  const fs::path jail = ScratchFolder("delta") / "jail";
  const fs::path installed = jail / "installed";
  const fs::path staging = jail / "staging";
  std::error_code ignored;
  fs::remove_all(staging, ignored);
  fs::create_directories(installed / "bin");
  std::ofstream(installed / "keep.txt", std::ios::binary | std::ios::trunc) << kInstalledKeep;
  std::ofstream(installed / "bin/big", std::ios::binary | std::ios::trunc) << big;
  std::ofstream(jail / "delta.zip", std::ios::binary | std::ios::trunc) << bytes;

  const auto applied = delta::ApplyDelta(installed, jail / "delta.zip", staging, {});

  for (const auto& item : fs::directory_iterator(jail)) {
    const std::string name = item.path().filename().string();
    Check(name == "installed" || name == "staging" || name == "delta.zip",
          "written outside staging:", name);
  }
  size_t installedFiles = 0;
  for (const auto& item : fs::recursive_directory_iterator(installed)) {
    installedFiles += item.is_regular_file() ? 1 : 0;
  }
  Check(installedFiles == 2 && ReadAll(installed / "keep.txt") == kInstalledKeep &&
            ReadAll(installed / "bin/big") == big,
        "installed copy changed");
  if (!applied) return;
  uint64_t staged = 0;
  for (const auto& item : fs::recursive_directory_iterator(staging)) {
    staged += item.is_regular_file() ? 1 : 0;
  }
  Check(staged == applied->copied + applied->patched + applied->whole,
        "staging holds other files than the list's");
}
