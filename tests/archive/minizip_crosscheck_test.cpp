// Our reader against Debian's minizip on archives made by other tools (python's zipfile and
// Info-ZIP: stored, deflated, ZIP64, streamed with data descriptors): the same names and bytes.

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <unzip.h>

#include "archive/zip_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;

// Name and hash of the bytes read (ours checks their size against the declared one).
using Listed = std::pair<std::string, size_t>;

std::vector<Listed> ListWithOurs(const fs::path& archive) {
  std::ifstream file(archive, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), {}};
  ZipReader reader;
  const auto readAt = [&bytes](uint64_t offset, void* buffer, size_t size) -> size_t {
    return offset < bytes.size() ? bytes.copy(static_cast<char*>(buffer), size, offset) : 0;
  };
  EXPECT_TRUE(reader.Open(readAt, bytes.size()) && reader.EntryCount() >= 4) << archive;
  std::vector<Listed> out;
  char name[ZipReader::kNameBufferSize];
  for (uint64_t i = 0; i < reader.EntryCount(); ++i) {
    std::string data;
    EXPECT_TRUE(reader.Extract(i, [&data](const void* block, size_t n) {
      data.append(static_cast<const char*>(block), n);
      return n;
    }));
    out.emplace_back(std::string(name, reader.EntryName(i, name).value_or(0)),
                     std::hash<std::string>{}(data));
  }
  return out;
}

std::vector<Listed> ListWithMinizip(const fs::path& archive) {
  std::vector<Listed> out;
  unzFile zip = unzOpen64(archive.c_str());
  for (int status = zip ? unzGoToFirstFile(zip) : UNZ_BADZIPFILE; status == UNZ_OK;
       status = unzGoToNextFile(zip)) {
    char name[4096];
    EXPECT_EQ(unzGetCurrentFileInfo64(zip, nullptr, name, sizeof name, nullptr, 0, nullptr, 0),
              UNZ_OK);
    EXPECT_EQ(unzOpenCurrentFile(zip), UNZ_OK);
    std::string data;
    char buffer[65536];
    for (int n; (n = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0;) {
      data.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(unzCloseCurrentFile(zip), UNZ_OK) << name;  // CRC checked here
    out.emplace_back(name, std::hash<std::string>{}(data));
  }
  if (zip) unzClose(zip);
  return out;
}

TEST(MinizipCrossCheck, ArchivesMadeByOtherTools) {
  const kestrivon::testing::TempDir temp;
  std::mt19937 random(42);
  std::string noise(300'000, '\0');
  for (char& c : noise) c = static_cast<char>(random() & 0xFF);
  const fs::path source = temp.path() / "tree";
  const std::pair<std::string, std::string> files[] = {
      {"bin/java", noise},
      {"lib/modules", kestrivon::testing::Text(3'000'000)},
      {"lib/security/empty", ""},
      {"conf/\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt", "utf-8 name"}};
  for (const auto& [name, bytes] : files) {
    fs::create_directories((source / name).parent_path());
    std::ofstream(source / name, std::ios::binary) << bytes;
  }

  const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  const std::pair<std::string, std::string> archives[] = {
      // Written to a pipe, so every entry carries a data descriptor.
      {"py-stream.zip", python +
                            " -c \"import glob,sys,zipfile\n"
                            "z=zipfile.ZipFile(sys.stdout.buffer,'w',zipfile.ZIP_DEFLATED)\n"
                            "for f in sorted(glob.glob('tree/**',recursive=True)): z.write(f)\n"
                            "z.close()\" | cat > py-stream.zip"},
      {"zip6.zip", "zip -q -r -6 zip6.zip tree"},
      {"zip0.zip", "zip -q -r -0 zip0.zip tree"},
      {"zip64.zip", "zip -q -r -fz zip64.zip tree"},
      {"zip-stream.zip", "zip -q -r - tree | cat > zip-stream.zip"}};
  for (const auto& [name, command] : archives) {
    const fs::path archive = temp.path() / name;
    const std::string line = "cd '" + temp.path().string() + "' && " + command;
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
    EXPECT_EQ(ListWithOurs(archive), ListWithMinizip(archive)) << name;
  }
}

}  // namespace
}  // namespace kestrivon::archive
