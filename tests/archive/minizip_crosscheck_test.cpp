// Our reader against Debian's minizip on archives made by other tools (python's zipfile and
// Info-ZIP, stored, deflated, ZIP64, streamed with data descriptors): the same names, sizes
// and bytes, and ExtractZip reproduces the source tree.

#include <unistd.h>
#include <unzip.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/extract_zip.h"
#include "archive/zip_reader.h"

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;

struct Listed {
  std::string name;
  uint64_t size = 0;
  std::string bytes;
  bool operator==(const Listed&) const = default;
  friend void PrintTo(const Listed& entry, std::ostream* out) {
    *out << entry.name << " (" << entry.size << " declared, " << entry.bytes.size() << " read)";
  }
};

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<Listed> ListWithOurs(const fs::path& archive) {
  std::ifstream file(archive, std::ios::binary);
  ZipReader reader;
  const bool opened = reader.Open(
      [&file](uint64_t offset, void* buffer, size_t size) -> size_t {
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
        return static_cast<size_t>(file.gcount());
      },
      fs::file_size(archive));
  EXPECT_TRUE(opened) << archive;
  std::vector<Listed> out;
  char name[ZipReader::kNameBufferSize];
  for (uint64_t i = 0; opened && i < reader.EntryCount(); ++i) {
    Listed entry;
    entry.name.assign(name, reader.EntryName(i, name).value_or(0));
    entry.size = reader.Stat(i).value_or(ZipEntryStat{}).uncompressedSize;
    const auto result = reader.Extract(i, [&entry](const void* data, size_t size) {
      entry.bytes.append(static_cast<const char*>(data), size);
      return size;
    });
    EXPECT_TRUE(result) << entry.name;
    out.push_back(std::move(entry));
  }
  return out;
}

std::vector<Listed> ListWithMinizip(const fs::path& archive) {
  std::vector<Listed> out;
  unzFile zip = unzOpen64(archive.c_str());
  EXPECT_NE(zip, nullptr) << archive;
  if (zip == nullptr) return out;
  for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
    unz_file_info64 info;
    char name[4096];
    EXPECT_EQ(unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0),
              UNZ_OK);
    Listed entry{name, info.uncompressed_size, {}};
    // minizip 1.1 leaves the ZIP64 marker where it should put the size from the extra field
    // (seen with "zip -fz"); the bytes it reads are still compared in full.
    const bool zip64Marker = entry.size == 0xFFFFFFFF;
    EXPECT_EQ(unzOpenCurrentFile(zip), UNZ_OK);
    char buffer[65536];
    for (int n; (n = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0;) {
      entry.bytes.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(unzCloseCurrentFile(zip), UNZ_OK) << name;  // CRC checked here
    if (zip64Marker) entry.size = entry.bytes.size();
    out.push_back(std::move(entry));
  }
  unzClose(zip);
  return out;
}

class MinizipCrossCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new fs::path(fs::temp_directory_path() /
                         ("kestrivon-crosscheck-" + std::to_string(getpid())));
    fs::remove_all(*root_);
    const fs::path tree = *root_ / "tree";
    std::mt19937 random(42);
    std::string noise(300'000, '\0');
    for (char& c : noise) c = static_cast<char>(random() & 0xFF);
    std::string text;
    for (uint64_t line = 0; text.size() < 3'000'000; ++line) {
      text += "module java.base exports java.lang." + std::to_string(line * 2654435761u % 999983) +
              ";\n";
    }
    WriteFile(tree / "bin" / "java", noise);
    WriteFile(tree / "lib" / "modules", text);
    // Zeros, but not beyond the ratio limit.
    WriteFile(tree / "lib" / "zeros", std::string(500, '\0'));
    WriteFile(tree / "lib" / "security" / "empty", "");
    WriteFile(tree / "conf" / "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt", "utf-8 name");
    WriteFile(tree / "release", "JAVA_VERSION=\"17\"\n");
    fs::create_directories(tree / "legal" / "empty-dir");
  }

  static void TearDownTestSuite() {
    fs::remove_all(*root_);
    delete root_;
  }

  static fs::path Make(const std::string& name, const std::string& command) {
    const std::string line = "cd '" + root_->string() + "' && " + command;
    EXPECT_EQ(std::system(line.c_str()), 0) << line;
    return *root_ / name;
  }

  // `withFolders`: the archive lists folders too, so even empty ones must come out.
  static void CrossCheck(const fs::path& archive, bool withFolders = true) {
    const std::vector<Listed> ours = ListWithOurs(archive);
    EXPECT_GE(ours.size(), 6u) << archive;
    EXPECT_EQ(ours, ListWithMinizip(archive)) << archive;

    const fs::path out = archive.string() + ".out";
    ExtractOptions options;
    options.stripTopLevelFolder = true;
    const auto result = ExtractZip(archive, out, options);
    ASSERT_TRUE(result) << result.error();
    const fs::path tree = *root_ / "tree";
    for (const auto& item : fs::recursive_directory_iterator(tree)) {
      const fs::path copy = out / item.path().lexically_relative(tree);
      if (item.is_directory()) {
        EXPECT_TRUE(!withFolders || fs::is_directory(copy)) << copy;
      } else {
        EXPECT_EQ(ReadFile(copy), ReadFile(item.path())) << copy;
      }
    }
  }

  static fs::path* root_;
};

fs::path* MinizipCrossCheck::root_ = nullptr;

const char* Python() { return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

TEST_F(MinizipCrossCheck, PythonZipfile) {
  CrossCheck(Make("py.zip", std::string(Python()) + " -m zipfile -c py.zip tree >/dev/null"));
  // Written to a pipe, so every entry carries a data descriptor.
  CrossCheck(
      Make("py-stream.zip", std::string(Python()) +
                                " -c \"import os,sys,zipfile\n"
                                "z=zipfile.ZipFile(sys.stdout.buffer,'w',zipfile.ZIP_DEFLATED)\n"
                                "for d,_,fs in sorted(os.walk('tree')):\n"
                                " for f in sorted(fs): z.write(os.path.join(d,f))\n"
                                "z.close()\" | cat > py-stream.zip"),
      false);
}

TEST_F(MinizipCrossCheck, InfoZip) {
  CrossCheck(Make("zip6.zip", "zip -q -r -6 zip6.zip tree"));
  CrossCheck(Make("zip0.zip", "zip -q -r -0 zip0.zip tree"));
  CrossCheck(Make("zip64.zip", "zip -q -r -fz zip64.zip tree"));
  CrossCheck(Make("zip-stream.zip", "zip -q -r - tree | cat > zip-stream.zip"));
}

}  // namespace
}  // namespace kestrivon::archive
