// Fuzz target: the ZIP reader over the input in memory, then the extractor on the same bytes
// as a file. An entry never yields more than its declared size, and nothing appears outside
// the extraction folder or touches the sentinel file beside it.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/extract_zip.h"
#include "archive/zip_reader.h"
#include "fuzz/fuzz_check.h"

void kestrivon::fuzz::TestOneInput(std::string_view bytes) {
  namespace fs = std::filesystem;
  constexpr std::string_view kSentinel = "sentinel: must never change";
  archive::ZipReader reader;
  const auto read = [bytes](uint64_t offset, void* buffer, size_t count) -> size_t {
    return offset < bytes.size() ? bytes.copy(static_cast<char*>(buffer), count, offset) : 0;
  };
  std::vector<char> name(archive::ZipReader::kNameBufferSize);
  archive::ZipExtractScratch streamed;
  streamed.wholeEntryLimit = 0;
  const bool opened = reader.Open(read, bytes.size());
  for (uint64_t i = 0; opened && i < reader.EntryCount(); ++i) {
    const auto length = reader.EntryName(i, name);
    Check(!length || *length < name.size(), "name not cut to the buffer");
    (void)reader.IsDirectory(i);
    const auto stat = reader.Stat(i);
    uint64_t produced = 0;
    const auto result = reader.Extract(i, [&](const void*, size_t count) {
      produced += count;
      Check(stat && produced <= stat->uncompressedSize, "more than the declared size");
      return count;
    });
    Check(!result || produced == stat->uncompressedSize, "size differs and reported success");
    // Small entries are inflated whole; streaming the same entry takes or refuses it alike (a
    // stream broken twice over may be refused for either fault first).
    uint64_t streamedBytes = 0;
    const auto again = reader.Extract(
        i, [&](const void*, size_t count) { return streamedBytes += count, count; }, streamed,
        read);
    Check(again.has_value() == result.has_value() && (!result || streamedBytes == produced),
          "the inflaters disagree");
  }

  // <scratch folder>/jail/{archive.zip, out/, sentinel}: the scratch folder must hold only the
  // jail, and the jail only these.
  const fs::path jail = ScratchFolder("zip") / "jail";
  fs::create_directories(jail);
  std::ofstream(jail / "sentinel", std::ios::binary | std::ios::trunc) << kSentinel;
  std::ofstream(jail / "archive.zip", std::ios::binary | std::ios::trunc) << bytes;
  archive::ExtractOptions options;
  for (const bool strip : {false, true}) {
    std::error_code ignored;
    fs::remove_all(jail / "out", ignored);
    options.stripTopLevelFolder = strip;
    (void)archive::ExtractZip(jail / "archive.zip", jail / "out", options);
  }
  const std::pair<fs::path, std::set<std::string>> allowed[] = {
      {jail.parent_path(), {"jail"}}, {jail, {"archive.zip", "out", "sentinel"}}};
  for (const auto& [folder, names] : allowed) {
    for (const auto& item : fs::directory_iterator(folder)) {
      Check(names.contains(item.path().filename().string()),
            "written outside the folder:", item.path().string());
    }
  }
  std::ifstream sentinel(jail / "sentinel", std::ios::binary);
  Check(!fs::is_symlink(jail / "sentinel") &&
            std::string(std::istreambuf_iterator<char>(sentinel), {}) == kSentinel,
        "sentinel changed");
}
