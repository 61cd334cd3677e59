// Hostile archives, one row each: the outcome of the extraction, what lands in the
// destination, and that nothing outside it appears or changes.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/extract_zip.h"
#include "core/long_path.h"
#include "core/path_utf8.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;
using testing::kMadeOnDos;
using testing::kStored;
using testing::ZipWriter;
using Tree = std::vector<std::string>;

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr std::string_view kSentinel = "sentinel: must never change";
constexpr uint32_t kUnixSymlink = 0120777u << 16;

// Every file and folder below `folder`, relative, '/'-separated, sorted; folders end in '/'.
// Read through the long form, where a device name is an ordinary name. Fails the test on a
// symbolic link.
Tree TreeOf(const fs::path& folder) {
  Tree out;
  const fs::path root = core::LongPath(folder);
  if (!fs::exists(root)) return out;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    // By text: the long form has no root that lexically_relative understands.
    std::string relative = core::PathToUtf8(item.path()).substr(core::PathToUtf8(root).size() + 1);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    EXPECT_FALSE(item.is_symlink()) << relative;
    out.push_back(item.is_directory() ? relative + "/" : relative);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(core::LongPath(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Little-endian, `width` bytes, counted from the end of `bytes` when `at` is negative.
std::string Patched(std::string bytes, long at, uint64_t value, int width) {
  const size_t from = at < 0 ? bytes.size() - static_cast<size_t>(-at) : static_cast<size_t>(at);
  for (int i = 0; i < width; ++i) {
    bytes[from + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
  }
  return bytes;
}

// A deflate stream of `size` zero bytes padded to exactly 1 KiB.
std::string Padded(size_t size) {
  std::string raw = testing::Deflate(std::string(size, '\0'));
  raw.resize(1024, '\0');
  return raw;
}

std::string Build(const ZipWriter& writer) { return writer.Build(); }
// An archive with a harmless file first, then the named entry.
ZipWriter One(std::string name, std::string data = "x") {
  return std::move(ZipWriter().AddFile("kept.txt", "k").AddFile(std::move(name), std::move(data)));
}

struct Row {
  const char* what;
  std::string bytes;
  // "ok", or the error text: "{archive}" and "{out}" stand for the paths, '/' in "{out}/..."
  // for the platform's separator, and a final '*' for the system's own words.
  std::string outcome;
  Tree tree;
  std::vector<std::pair<std::string, std::string>> contents = {};  // path, bytes
  uint64_t maxWritten = 64 * 1024;
};

// An archive whose end record lists only its first entry, with the complete end record of
// both entries in its comment: readers that take the first see one file, those that take the
// last see two.
std::string HiddenEndRecord() {
  const std::string both = ZipWriter().AddFile("a.txt", "a").AddFile("evil.txt", "e").Build();
  const std::string last = both.substr(both.size() - 22);
  std::string first = Patched(Patched(last, 8, 0x00010001, 4), 12, 46 + 5, 4);
  first = Patched(first, 20, 22, 2);
  return both.substr(0, both.size() - 22) + first + last;
}

std::vector<Row> Rows() {
  const std::string text = testing::Text(100'000);
  const std::string inner = Build(ZipWriter().AddFile("inner.txt", "nested"));
  const std::string pair = Build(ZipWriter().AddFile("a.txt", "a"));
  const std::string zip64 = Build(ZipWriter().AddFile("a.txt", "a").Zip64End());
  const size_t zip64Record = 22 + 20 + 56;  // from the end: end record, locator, ZIP64 record
  const uint64_t firstLength = 30 + 1 + testing::Deflate(text).size();
  const std::string unsafe = "unsafe entry path in archive: ";
  const std::string conflict = "conflicting entry path in archive: ";
  const std::string invalid = "not a valid ZIP archive: {archive}";
  const Tree kept = {"kept.txt"};

  std::vector<Row> rows = {
      // Names that leave the folder: refused before anything is written.
      {"parent", Build(One("../evil.txt")), unsafe + "../evil.txt", {}},
      {"deep parent", Build(One("a/../../evil.txt")), unsafe + "a/../../evil.txt", {}},
      {"parent, backslash", Build(One("..\\evil.txt")), unsafe + "..\\evil.txt", {}},
      {"deep parent, backslashes", Build(One("a\\..\\..\\e")), unsafe + "a\\..\\..\\e", {}},
      {"absolute", Build(One("/abs.txt")), unsafe + "/abs.txt", {}},
      {"absolute, backslash", Build(One("\\abs.txt")), unsafe + "\\abs.txt", {}},
      {"drive relative", Build(One("C:evil.txt")), unsafe + "C:evil.txt", {}},
      {"drive absolute", Build(One("c:\\windows\\e")), unsafe + "c:\\windows\\e", {}},
      {"UNC", Build(One("\\\\server\\share\\e")), unsafe + "\\\\server\\share\\e", {}},
      // No file name on Windows, and a guessed one could merge two entries.
      {"not UTF-8", Build(One("caf\xE9/x.txt")), unsafe + "caf\\xE9/x.txt", {}},
      {"NUL in name", Build(One(std::string("a\0b.txt", 7))), unsafe + "a\\x00b.txt", {}},
      // Left out silently.
      {"META-INF", Build(One("META-INF/MANIFEST.MF")), "ok", kept},
      {"junk folder", Build(One("__MACOSX/\xFF")), "ok", kept},
      {"junk file", Build(One("junk/.DS_Store")), "ok", kept},
      {"alternate data stream", Build(One("bin/ads:stream")), "ok", kept},
      {"trailing dot", Build(One("bin/trailing.")), "ok", kept},
      {"trailing space", Build(One("bin/trailing ")), "ok", kept},
      {"folder with a trailing space", Build(One("dir /x.txt")), "ok", kept},
      {"empty name", Build(One("")), "ok", kept},
      // Device names land as ordinary files: every access goes through the long form.
      {"device names",
       Build(ZipWriter()
                 .AddFile("CON", "1")
                 .AddFile("nul.txt", "2")
                 .AddFile("COM1", "3")
                 .AddFile("aux", "4")),
       "ok",
       {"COM1", "CON", "aux", "nul.txt"},
       {{"CON", "1"}, {"nul.txt", "2"}, {"COM1", "3"}, {"aux", "4"}}},
      {"device names as folders",
       Build(ZipWriter().AddFile("lpt1/conin$", "1").AddFile("PRN/CONOUT$", "2")),
       "ok",
       {"PRN/", "PRN/CONOUT$", "lpt1/", "lpt1/conin$"}},
      // Symbolic links are written as plain files holding the link text.
      {"symbolic link",
       Build(ZipWriter().Add(
           {.name = "link", .data = "../sentinel", .externalAttributes = kUnixSymlink})),
       "ok",
       {"link"},
       {{"link", "../sentinel"}}},
      {"symbolic link as a folder",
       Build(ZipWriter()
                 .Add({.name = "up", .data = "..", .externalAttributes = kUnixSymlink})
                 .AddFile("up/sentinel", "overwritten")),
       "can't create {out}/up: *",
       {"up"}},
      // One path, two entries.
      {"same name twice",
       Build(ZipWriter().AddFile("a.txt", "1").AddFile("a.txt", "2")),
       conflict + "a.txt",
       {}},
      {"names differing in case",
       Build(ZipWriter().AddFile("ReadMe.txt", "1").AddFile("README.TXT", "2")),
       conflict + "README.TXT",
       {}},
      {"names differing in separators",
       Build(ZipWriter().AddFile("a/b", "1").AddFile("a\\b", "2")),
       conflict + "a/b",
       {}},
      {"names differing in doubled slashes",
       Build(ZipWriter().AddFile("a/b", "1").AddFile("a//b", "2")),
       conflict + "a/b",
       {}},
      {"file, then folder of that name",
       Build(ZipWriter().AddFile("a", "1").AddDirectory("a/")),
       conflict + "a",
       {}},
      {"folder, then file of that name",
       Build(ZipWriter().AddDirectory("A/").AddFile("a", "1")),
       conflict + "a",
       {}},
      {"file, then a file below it",
       Build(ZipWriter().AddFile("a", "1").AddFile("a/x", "2")),
       "can't create {out}/a: *",
       {"a"}},
      {"folder twice",
       Build(ZipWriter().AddDirectory("d/").AddDirectory("d/").AddFile("d/x", "1")),
       "ok",
       {"d/", "d/x"}},
      // Data on a folder is ignored; the folder is made.
      {"folder with data",
       Build(ZipWriter().Add({.name = "dir/", .data = "data", .method = kStored})),
       "ok",
       {"dir/"}},
      {"DOS folder with data",
       Build(ZipWriter().Add({.name = "dos",
                              .data = "data",
                              .versionMadeBy = kMadeOnDos,
                              .externalAttributes = 0x10})),
       "ok",
       {"dos/"}},
      // A stub before the archive: fine when the offsets count it, refused when they don't.
      {"self-extracting, offsets adjusted",
       Build(ZipWriter().Prefix("MZ" + std::string(5000, '\x90')).AddFile("a.txt", "a")),
       "ok",
       {"a.txt"}},
      {"self-extracting, offsets not adjusted",
       "MZ" + std::string(5000, '\x90') + pair,
       invalid,
       {}},
      // Several end records: the last decides, unless another one could end the file too.
      {"two archives in a row", Build(ZipWriter().AddFile("first.txt", "1")) + pair, invalid, {}},
      {"end record hidden in the comment", HiddenEndRecord(), invalid, {}},
      {"end signature inside the comment",
       Build(ZipWriter().AddFile("a.txt", "a").Comment("PK\x05\x06" + std::string(30, 'x'))),
       invalid,
       {}},
      {"comment that only mentions PK",
       Build(ZipWriter().AddFile("a.txt", "a").Comment("PK")),
       "ok",
       {"a.txt"}},
      // ZIP64 fields whose sums overflow 64 bits.
      {"ZIP64 local offset near 2^64",
       Build(ZipWriter().Add(
           {.name = "a", .data = "a", .zip64 = true, .localHeaderOffset = UINT64_MAX - 8})),
       invalid,
       {}},
      {"ZIP64 compressed size near 2^64",
       Build(ZipWriter().Add(
           {.name = "a", .data = "a", .compressedSize = UINT64_MAX - 8, .zip64 = true})),
       invalid,
       {}},
      {"ZIP64 directory offset near 2^64",
       Patched(zip64, -static_cast<long>(zip64Record) + 48, UINT64_MAX - 8, 8),
       invalid,
       {}},
      {"ZIP64 directory size near 2^64",
       Patched(zip64, -static_cast<long>(zip64Record) + 40, UINT64_MAX - 8, 8),
       invalid,
       {}},
      {"ZIP64 entry count near 2^64",
       Patched(Patched(zip64, -static_cast<long>(zip64Record) + 24, UINT64_MAX, 8),
               -static_cast<long>(zip64Record) + 32, UINT64_MAX, 8),
       invalid,
       {}},
      {"ZIP64 uncompressed size 2^64 - 1",
       Build(ZipWriter().Add(
           {.name = "big", .data = "a", .uncompressedSize = UINT64_MAX, .zip64 = true})),
       "entry too large (17592186044415 MiB): big",
       {}},
      // Entries that share or overrun data.
      {"two directory records for one entry",
       Build(
           ZipWriter().AddFile("a", text).Add({.name = "a", .data = text, .localHeaderOffset = 0})),
       invalid,
       {}},
      {"size running into the next entry",
       Build(ZipWriter()
                 .Add({.name = "a", .data = text, .compressedSize = firstLength})
                 .AddFile("b", text)),
       invalid,
       {}},
      {"size running into the directory",
       Build(ZipWriter().AddFile("a", text).Add(
           {.name = "b", .data = text, .compressedSize = 40'000})),
       invalid,
       {}},
      {"header inside another entry's data",
       Build(ZipWriter().AddFile("a", text).Add(
           {.name = "b", .data = text, .localHeaderOffset = 40})),
       invalid,
       {}},
      {"local name differs",
       Build(ZipWriter().Add({.name = "name.txt", .data = text, .localName = "evil.txt"})),
       "failed to extract name.txt",
       {"name.txt"}},
      // Refused by the declared sizes before a byte is written.
      {"entry over 500 MiB",
       Build(ZipWriter().Add(
           {.name = "dir/huge.bin", .data = "x", .uncompressedSize = 500 * kMiB + 1})),
       "entry too large (500 MiB): dir/huge.bin",
       {}},
      {"compression ratio 100",
       Build(ZipWriter().Add({.name = "ratio.bin",
                              .data = std::string(100 * 1024, '\0'),
                              .rawData = Padded(100 * 1024)})),
       "ok",
       {"ratio.bin"},
       {{"ratio.bin", std::string(100 * 1024, '\0')}},
       100 * 1024},
      {"compression ratio 101",
       Build(ZipWriter().Add({.name = "ratio.bin",
                              .data = std::string(101 * 1024, '\0'),
                              .rawData = Padded(101 * 1024)})),
       "suspicious compression ratio for ratio.bin",
       {}},
      // Refused while or after writing; what was written stays.
      {"wrong CRC",
       Build(ZipWriter().Add({.name = "crc.txt", .data = text, .crc32 = 1})),
       "failed to extract crc.txt",
       {"crc.txt"},
       {},
       text.size()},
      {"encrypted",
       Build(ZipWriter().Add({.name = "enc.txt", .data = text, .flags = 1})),
       "failed to extract enc.txt",
       {"enc.txt"}},
      {"bzip2",
       Build(ZipWriter().Add({.name = "bz.txt", .data = text, .method = 12})),
       "failed to extract bz.txt",
       {"bz.txt"}},
      {"inflates beyond its size",
       Build(ZipWriter().Add(
           {.name = "lie.bin", .data = std::string(16 << 20, '\0'), .uncompressedSize = 1024})),
       "failed to extract lie.bin",
       {"lie.bin"},
       {},
       1024},
      {"data shorter than its size",
       Build(ZipWriter().Add({.name = "short", .data = text, .uncompressedSize = text.size() + 1})),
       "failed to extract short",
       {"short"},
       {},
       text.size()},
      // Archives that are no archive.
      {"nested archive",
       Build(ZipWriter().AddFile("inner.zip", inner, kStored)),
       "ok",
       {"inner.zip"},
       {{"inner.zip", inner}}},
      {"no entries", Build(ZipWriter()), "archive is empty: {archive}", {}},
      {"not a ZIP file", "this is not a zip archive at all", invalid, {}},
  };
  return rows;
}

std::string Expand(std::string text, const fs::path& archive, const fs::path& out) {
  const std::string separator = core::PathToUtf8(fs::path("a") / "b").substr(1, 1);
  for (const auto& [key, value] :
       {std::pair<std::string, std::string>{"{archive}", core::PathToUtf8(archive)},
        {"{out}/", core::PathToUtf8(out) + separator}}) {
    if (const size_t at = text.find(key); at != std::string::npos)
      text.replace(at, key.size(), value);
  }
  return text;
}

TEST(HostileArchive, StaysInsideItsFolderAndEndsAsDesigned) {
  kestrivon::testing::TempDir temp;
  const fs::path archive = temp.path() / "in.zip";
  const fs::path out = temp.path() / "out";
  const fs::path sentinel = temp.path() / "sentinel";
  std::ofstream(sentinel, std::ios::binary) << kSentinel;
  const std::vector<Row> rows = Rows();
  ASSERT_GE(rows.size(), 40u);

  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(core::LongPath(out));
    std::ofstream(archive, std::ios::binary | std::ios::trunc) << row.bytes;
    const auto result = ExtractZip(archive, out, {});
    const std::string outcome = result ? "ok" : result.error();
    const std::string expected = Expand(row.outcome, archive, out);
    if (expected.ends_with('*')) {
      EXPECT_TRUE(outcome.starts_with(expected.substr(0, expected.size() - 1))) << outcome;
    } else {
      EXPECT_EQ(outcome, expected);
    }
    EXPECT_EQ(TreeOf(out), row.tree);
    uint64_t written = 0;
    for (const auto& item : fs::recursive_directory_iterator(core::LongPath(out))) {
      if (item.is_regular_file()) written += item.file_size();
    }
    EXPECT_LE(written, row.maxWritten);

    for (const auto& [path, bytes] : row.contents) {
      EXPECT_EQ(ReadFile(out / core::PathFromUtf8(path)), bytes) << path;
    }
    Tree outside;
    for (const std::string& item : TreeOf(temp.path())) {
      if (!item.starts_with("out/") || item == "out/") outside.push_back(item);
    }
    EXPECT_EQ(outside, (Tree{"in.zip", "out/", "sentinel"}));
    EXPECT_EQ(ReadFile(sentinel), kSentinel);
  }
}

}  // namespace
}  // namespace kestrivon::archive
