#include "delta/delta_apply.h"

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "core/file_digest.h"
#include "delta/delta_list.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"
#include "tools/publish/delta_build.h"

namespace kestrivon::delta {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;

std::string Sha(std::string_view bytes) {
  core::Sha256 hasher;
  hasher.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return core::ToHex(hasher);
}

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

void WriteTree(const fs::path& root, const Tree& tree) {
  for (const auto& [name, content] : tree) {
    fs::create_directories((root / name).parent_path());
    std::ofstream(root / name, std::ios::binary) << content;
  }
}

Tree ReadTree(const fs::path& root) {
  Tree tree;
  if (!fs::exists(root)) return tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    std::ifstream in(item.path(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    tree[item.path().lexically_relative(root).generic_string()] = content.str();
  }
  return tree;
}

// A frame header that asks for a 2 GiB window, then one empty raw last block.
const std::string kHugeWindowFrame("\x28\xB5\x2F\xFD\x00\xA8\x01\x00\x00", 9);

const std::string kOldBig = testing::Text(300'000);
const std::string kNewBig = kOldBig.substr(0, 150'000) + "changed" + kOldBig.substr(150'000);
const Tree kOld = {{"keep.txt", "unchanged"}, {"bin/big", kOldBig}, {"gone.txt", "x"}};
const Tree kNew = {{"keep.txt", "unchanged"}, {"bin/big", kNewBig}, {"lib/new.txt", "fresh"}};

// The honest package from kOld to kNew, as parts that each case may spoil.
struct Package {
  DeltaList list;
  std::map<std::string, std::string> entries;  // ZIP entry name -> content

  Package() {
    list.files = {
        {"bin/big", kNewBig.size(), Sha(kNewBig), FileSource::Patch, kOldBig.size(), Sha(kOldBig)},
        {"keep.txt", 9, Sha("unchanged"), FileSource::Copy, 9, Sha("unchanged")},
        {"lib/new.txt", 5, Sha("fresh"), FileSource::Whole, 0, ""}};
    static const std::string patch = *publish::MakePatch(Bytes(kOldBig), Bytes(kNewBig));
    entries["patch/bin/big"] = patch;
    entries["file/lib/new.txt"] = "fresh";
  }
  DeltaFile& File(std::string_view path) {
    for (DeltaFile& file : list.files) {
      if (file.path == path) return file;
    }
    throw std::logic_error("no such file");
  }
  std::string Build(std::string listText = {}) const {
    testing::ZipWriter zip;
    for (const auto& [name, content] : entries) zip.AddFile(name, content);
    zip.AddFile(std::string(kListEntry), listText.empty() ? SerializeDeltaList(list) : listText);
    return zip.Build();
  }
};

struct Case {
  const char* name;
  std::function<void(Package&, const fs::path& installed)> spoil;
  std::string error;  // the start of the reason; empty: success
};

TEST(ApplyDelta, BuildsTheNewTreeOrFailsInsideStaging) {
  const Case cases[] = {
      {"honest", [](Package&, const fs::path&) {}, ""},
      {"wrong digest", [](Package& p, const fs::path&) { p.File("keep.txt").sha256 = Sha("x"); },
       "installed keep.txt is not the version"},
      {"new file's digest",
       [](Package& p, const fs::path&) { p.File("lib/new.txt").sha256 = Sha("x"); },
       "lib/new.txt comes out with sha256"},
      {"installed copy lacks the patched file",
       [](Package&, const fs::path& installed) { fs::remove(installed / "bin/big"); },
       "installed copy lacks bin/big"},
      {"installed file modified",
       [](Package&, const fs::path& installed) {
         std::string bytes = kOldBig;
         bytes[10] ^= 1;
         std::ofstream(installed / "bin/big", std::ios::binary) << bytes;
       },
       "installed bin/big is not the version the delta was made from"},
      {"patch decodes to wrong bytes",
       [](Package& p, const fs::path&) {
         std::string other = kOldBig;
         other[5] ^= 1;
         p.entries["patch/bin/big"] = *publish::MakePatch(Bytes(other), Bytes(kNewBig + "x"));
         p.File("bin/big").size += 1;
       },
       "bin/big comes out with sha256"},
      {"huge window",
       [](Package& p, const fs::path&) { p.entries["patch/bin/big"] = kHugeWindowFrame; },
       "patch for bin/big: corrupt patch: Frame requires too much memory"},
      {"truncated stream",
       [](Package& p, const fs::path&) { p.entries["patch/bin/big"].resize(100); },
       "patch for bin/big: "},
      {"two frames",
       [](Package& p, const fs::path&) {
         p.entries["patch/bin/big"] += p.entries["patch/bin/big"];
       },
       "patch for bin/big: data after the patch's end"},
      {"escaping path in the list",
       [](Package& p, const fs::path&) { p.File("keep.txt").path = "../keep.txt"; },
       "unsafe path in delta list: ../keep.txt"},
      {"escaping entry", [](Package& p, const fs::path&) { p.entries["../evil"] = "x"; },
       "unsafe entry path in delta: ../evil"},
      {"reserved name", [](Package& p, const fs::path&) { p.File("keep.txt").path = "aux.txt"; },
       "reserved name in delta list: aux.txt"},
      {"list names a patch the package lacks",
       [](Package& p, const fs::path&) { p.entries.erase("patch/bin/big"); },
       "delta lacks patch/bin/big"},
      {"package holds a patch the list does not name",
       [](Package& p, const fs::path&) { p.entries["patch/keep.txt"] = "x"; },
       "delta holds patch/keep.txt, which its list does not name"},
      {"whole file's size disagrees",
       [](Package& p, const fs::path&) { p.File("lib/new.txt").size = 6; },
       "lib/new.txt comes out with 5 bytes instead of 6"},
      {"file and folder of one name",
       [](Package& p, const fs::path&) { p.File("keep.txt").path = "BIN"; },
       "conflicting path in delta list: bin/big"},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    testing::TempDir temp;
    const fs::path installed = temp.path() / "installed";
    const fs::path staging = temp.path() / "staging";
    WriteTree(installed, kOld);
    Package package;
    item.spoil(package, installed);
    const Tree before = ReadTree(installed);
    std::ofstream(temp.path() / "delta.zip", std::ios::binary) << package.Build();

    const auto applied = ApplyDelta(installed, temp.path() / "delta.zip", staging, {});
    if (item.error.empty()) {
      ASSERT_TRUE(applied) << applied.error();
      EXPECT_EQ(ReadTree(staging), kNew);
      EXPECT_EQ(applied->copied + applied->patched + applied->whole, 3u);
    } else {
      ASSERT_FALSE(applied);
      EXPECT_TRUE(applied.error().starts_with(item.error)) << applied.error();
    }
    // Nothing but staging changes.
    EXPECT_EQ(ReadTree(installed), before);
    for (const auto& top : fs::directory_iterator(temp.path())) {
      const std::string name = top.path().filename().string();
      EXPECT_TRUE(name == "installed" || name == "staging" || name == "delta.zip") << name;
    }
  }
}

TEST(ApplyDelta, StopsWhenCancelledAndReportsProgress) {
  testing::TempDir temp;
  WriteTree(temp.path() / "installed", kOld);
  std::ofstream(temp.path() / "delta.zip", std::ios::binary) << Package().Build();
  std::vector<uint64_t> seen;
  ApplyOptions options{
      .progress = [&](uint64_t done, uint64_t total) { seen.push_back(done * 10 + total); },
      .cancelled = [&] { return seen.size() == 2; }};
  const auto applied =
      ApplyDelta(temp.path() / "installed", temp.path() / "delta.zip", temp.path() / "s", options);
  ASSERT_FALSE(applied);
  EXPECT_EQ(applied.error(), "cancelled");
  EXPECT_EQ(seen, (std::vector<uint64_t>{13, 23}));
}

}  // namespace
}  // namespace kestrivon::delta
