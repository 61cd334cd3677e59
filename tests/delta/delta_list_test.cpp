#include "delta/delta_list.h"

#include <string>

#include <gtest/gtest.h>

namespace kestrivon::delta {
namespace {

const std::string kDigest(64, 'a');

std::string File(const std::string& path, const std::string& more = "") {
  return R"({"path":")" + path + R"(","size":3,"sha256":")" + kDigest + R"(","source":"copy")" +
         more + "}";
}

std::string List(const std::string& files, const std::string& format = "zstd-files-1") {
  return R"({"format":")" + format + R"(","files":[)" + files + "]}";
}

TEST(ParseDeltaList, RefusesAnyFlaw) {
  const std::string patch = R"(,"source":"patch","oldSize":4,"oldSha256":")" + kDigest + "\"";
  const std::pair<std::string, std::string> cases[] = {
      {List(File("a") + "," + File("b/c" + std::string(), patch)), ""},
      {"[]", "malformed delta list: not an object"},
      {"{", "malformed delta list: malformed JSON"},
      {List(File("a"), "zstd-files-2"), "unknown delta format \"zstd-files-2\""},
      {List(""), "malformed delta list: no files"},
      {List("1"), "malformed delta list: a file is not an object"},
      {List(File("a", R"(,"size":-1)")), "malformed delta list entry for a"},
      {List(File("a", R"(,"size":524288001)")), "malformed delta list entry for a"},
      {List(File("a", R"(,"sha256":"abc")")), "malformed delta list entry for a"},
      {List(File("a", R"(,"source":"link")")), "malformed delta list entry for a"},
      {List(File("a", R"(,"source":"patch")")), "malformed delta list entry for a"},
      {List(File("./a")), "unsafe path in delta list: ./a"},
      {List(File("a//b")), "unsafe path in delta list: a//b"},
      {List(File("/a")), "unsafe path in delta list: /a"},
      {List(File("META-INF/x")), "unsafe path in delta list: META-INF/x"},
      {List(File("a\\\\b")), "unsafe path in delta list: a\\b"},
      {List(File("a/nul")), "reserved name in delta list: a/nul"},
      {List(File("A") + "," + File("a")), "conflicting path in delta list: a"},
  };
  for (const auto& [text, error] : cases) {
    const auto list = ParseDeltaList(text);
    EXPECT_EQ(list ? "" : list.error().substr(0, error.size()), error) << text;
  }
}

TEST(ParseDeltaList, ReadsWhatIsWritten) {
  DeltaList list;
  list.files = {{"bin/java.exe", 10, kDigest, FileSource::Patch, 12, std::string(64, 'b')},
                {"lib/a b", 0, kDigest, FileSource::Whole, 0, ""},
                {"release", 3, kDigest, FileSource::Copy, 3, kDigest}};
  const auto read = ParseDeltaList(SerializeDeltaList(list));
  ASSERT_TRUE(read) << read.error();
  ASSERT_EQ(read->files.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const DeltaFile& a = list.files[i];
    const DeltaFile& b = read->files[i];
    EXPECT_EQ(std::tie(a.path, a.size, a.sha256, a.source, a.oldSize, a.oldSha256),
              std::tie(b.path, b.size, b.sha256, b.source, b.oldSize, b.oldSha256));
  }
  EXPECT_EQ(EntryNameOf(list.files[0]), "patch/bin/java.exe");
  EXPECT_EQ(EntryNameOf(list.files[1]), "file/lib/a b");
  EXPECT_EQ(EntryNameOf(list.files[2]), "");
}

TEST(PatchWindowLog, CoversBothFilesWithinTheLimit) {
  const std::tuple<uint64_t, uint64_t, int> cases[] = {
      {0, 0, 10}, {1000, 1000, 11}, {1 << 20, 1 << 20, 22}, {500 << 20, 500 << 20, 30}};
  for (const auto& [old, fresh, log] : cases) EXPECT_EQ(PatchWindowLog(old, fresh), log) << old;
}

}  // namespace
}  // namespace kestrivon::delta
