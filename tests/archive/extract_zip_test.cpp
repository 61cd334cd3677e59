#include "archive/extract_zip.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/entry_path.h"
#include "archive/extract_limits.h"
#include "core/long_path.h"
#include "core/path_utf8.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;
using testing::kStored;
using testing::ZipWriter;
using testing::ZipWriterEntry;
using Tree = std::vector<std::string>;

constexpr uint64_t kMiB = uint64_t{1} << 20;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(core::LongPath(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

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

// Folders for names that end in '/', else files that hold their own name.
ZipWriter Files(std::initializer_list<std::string> names) {
  ZipWriter writer;
  for (const std::string& name : names) {
    name.ends_with('/') ? writer.AddDirectory(name) : writer.AddFile(name, name);
  }
  return writer;
}

// Components of 200 bytes at most, as any file system holds them.
std::string DeepPath(size_t length) {
  std::string path(length, 'p');
  for (size_t at = 200; at < length; at += 201) path[at] = '/';
  return path;
}

class ExtractZipTest : public ::testing::Test {
 protected:
  std::string Run() {
    const auto result = ExtractZip(archive_, out_, options_);
    return result ? "ok" : result.error();
  }

  std::string ArchiveText() const { return core::PathToUtf8(archive_); }

  ExtractOptions options_;
  kestrivon::testing::TempDir temp_;
  const fs::path root_ = temp_.path();
  const fs::path archive_ = root_ / "in.zip";
  fs::path out_ = root_ / "out";
};

TEST_F(ExtractZipTest, ExtractsFilesAndFoldersAndReportsProgress) {
  kestrivon::testing::LogCapture log;
  out_ = root_ / "not" / "yet" / "there";
  options_.stripTopLevelFolder = true;
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  options_.progress = [&](uint64_t done, uint64_t all) { progress.emplace_back(done, all); };
  const std::string big = testing::Text(3 << 20);
  // Left out silently, and so needing no file name whatever their bytes: the last two.
  ZipWriter writer =
      Files({"jdk/", "jdk/bin/", "jdk/empty/", "jdk/lib/deep/er/x",
             "jdk/\xC3\xA9t\xC3\xA9\xF0\x9F\x98\x80", "META-INF/x", "__MACOSX/\xFF"});
  ASSERT_TRUE(writer.AddFile("jdk\\bin\\java.exe", big).WriteTo(archive_));
  ASSERT_EQ(Run(), "ok");
  EXPECT_EQ(TreeOf(out_),
            (Tree{"bin/", "bin/java.exe", "empty/", "lib/", "lib/deep/", "lib/deep/er/",
                  "lib/deep/er/x", "\xC3\xA9t\xC3\xA9\xF0\x9F\x98\x80"}));
  EXPECT_EQ(ReadFile(out_ / "bin" / "java.exe"), big);
  EXPECT_EQ(ReadFile(out_ / "lib/deep/er/x"), "jdk/lib/deep/er/x");
  // Files only are counted; the total includes the two folders but no skipped entry.
  EXPECT_EQ(progress, (decltype(progress){{1, 5}, {2, 5}, {3, 5}}));
  EXPECT_EQ(
      log.Texts(),
      (Tree{"[INFO] Extracting " + ArchiveText() + " without its top-level folder \"jdk\"",
            "[INFO] Extracted " + ArchiveText() + " (3 files) to " + core::PathToUtf8(out_)}));

  // An existing file is replaced, not appended to or left longer. The longest path goes far
  // beyond the 260 characters that only the long form reaches on Windows.
  const fs::path longest = out_ / core::PathFromUtf8(DeepPath(1024));
  ASSERT_TRUE(
      ZipWriter().AddFile("bin/java.exe", "new").AddFile(DeepPath(1024), "deep").WriteTo(archive_));
  ASSERT_EQ(Run(), "ok");
  EXPECT_EQ(ReadFile(out_ / "bin" / "java.exe"), "new");
  EXPECT_EQ(ReadFile(longest), "deep");
  // Leaf first: mingw's directory iteration, and so remove_all, fails at this length.
  for (fs::path item = longest; item != out_; item = item.parent_path()) {
    ASSERT_TRUE(fs::remove(core::LongPath(item))) << core::PathToUtf8(item);
  }
}

TEST(EntryPath, EachNameIsAcceptedSkippedOrUnsafe) {
  const std::pair<std::string_view, std::string_view> accepted[] = {
      {"bin//lib///x.dll", "bin/lib/x.dll"},
      {"folder/", "folder"},
      {"a\\/b", "a/b"},
      {"lib/META-INF/x", "lib/META-INF/x"},  // only a first component meta-inf is dropped
      {"..a/b..c/.hidden", "..a/b..c/.hidden"},
      // Junk names count as whole components only.
      {"thumbs.db.bak/x.ds_store/__macosx_", "thumbs.db.bak/x.ds_store/__macosx_"}};
  for (const auto& [name, expected] : accepted) {
    std::string normalized;
    EXPECT_EQ(NormalizeEntryPath(name, normalized), EntryPathVerdict::Accept) << name;
    EXPECT_EQ(normalized, expected) << name;
  }
  // The others leave no path behind.
  const std::pair<EntryPathVerdict, std::vector<std::string_view>> refused[] = {
      {EntryPathVerdict::Unsafe,
       {"/etc/passwd", "\\windows\\x", "/", "//server/share", "C:x", "c:/x", "z:\\x.dll", "..",
        "../x", "a/../b", "a/b/..", "..\\x", "a\\..\\..\\b", "a/.\\..\\b", "ok/..//x",
        // ".." is unsafe even where a later rule would only skip the name.
        "META-INF/../x", "__MACOSX/../x"}},
      {EntryPathVerdict::Skip,
       {"", "META-INF/MANIFEST.MF", "meta-inf", "Meta-Inf/x", "__MACOSX/a/._b", "a/__macosx/b",
        "a/.DS_Store", "THUMBS.DB", "x/Desktop.INI", "a/./b", "./a", "a/b.", "a./b", "a/...",
        "a /b", "a/b:c", "1:x", "a/stream:$DATA"}}};
  for (const auto& [verdict, names] : refused) {
    for (std::string_view name : names) {
      std::string normalized = "left over";
      EXPECT_EQ(NormalizeEntryPath(name, normalized), verdict) << name;
      EXPECT_EQ(normalized, "") << name;
    }
  }
}

// One past the archive size and entry count limits is refused above, by whole archives.
TEST(ExtractLimits, EachLimitAtItsEdge) {
  EntryLimits total;
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(total.Admit("p", 5 * kMiB, 500 * kMiB));
  const std::pair<std::expected<void, std::string>, std::string> cases[] = {
      {CheckArchiveSize(2048 * kMiB, "a.zip"), ""},
      {CheckDiskSpace(100 * kMiB, 300 * kMiB), ""},
      {CheckDiskSpace(100 * kMiB, 300 * kMiB - 1),
       "not enough disk space (need 300 MiB, have 299 MiB)"},
      {CheckEntryCount(0, "a.zip"), "archive is empty: a.zip"},
      {CheckEntryCount(100'000, "a.zip"), ""},
      {EntryLimits().Admit("stored.bin", 500 * kMiB, 500 * kMiB), ""},
      {EntryLimits().Admit("big.bin", 500 * kMiB + 1, 500 * kMiB + 1),
       "entry too large (500 MiB): big.bin"},
      // Size comes before ratio.
      {EntryLimits().Admit("big.bin", 1, 600 * kMiB), "entry too large (600 MiB): big.bin"},
      {EntryLimits().Admit("a", 1024, 100 * 1024), ""},
      {EntryLimits().Admit("a", 1024, 101 * 1024), "suspicious compression ratio for a"},
      // Integer division: 101 KiB - 1 over 1 KiB is still 100.
      {EntryLimits().Admit("a", 1024, 101 * 1024 - 1), ""},
      // Nothing to divide by: no ratio to judge.
      {EntryLimits().Admit("a", 0, 100 * kMiB), ""},
      {total.Admit("p", kMiB, 72 * kMiB), ""},  // exactly 3072 MiB
      {total.Admit("p", 0, 1), "extracted size exceeds 3072 MiB"}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].first ? "" : cases[i].first.error(), cases[i].second) << i;
  }
}

struct Row {
  const char* what;
  std::string bytes;
  std::string outcome;  // "ok", or the error text; a final '*' stands for the system's words
  Tree tree = {};       // the files of an "ok" row end with their names
  bool strip = false;
  std::string onlyFile = {};
  int cancelAfter = -1;  // the number of entries begun before the extraction is cancelled
};

// Each archive, hostile or not, ends as designed and writes no more than it declares (1 KiB at
// most); nothing outside the folder appears or changes.
TEST_F(ExtractZipTest, EachArchiveEndsAsDesignedInsideItsFolder) {
  EXPECT_EQ(Run(), "can't read " + ArchiveText());  // none yet
  constexpr std::string_view kSentinel = "sentinel: must never change";
  const fs::path sentinel = root_ / "sentinel";
  std::ofstream(sentinel, std::ios::binary) << kSentinel;
  const std::string unsafe = "unsafe entry path in archive: ";
  const std::string conflict = "conflicting entry path in archive: ";
  const auto one = [](ZipWriterEntry entry) { return ZipWriter().Add(std::move(entry)).Build(); };
  const auto bytes = [](std::initializer_list<std::string> names) { return Files(names).Build(); };
  const Tree stripped = {"bin/", "bin/java", "release"};
  const std::string notFound = "missing.dll not found in " + ArchiveText();
  const std::string onlyFile = Files({"pkg/", "pkg/a", "pkg/updater.exe/"})
                                   .AddFile("pkg/bin/UPDATER.exe", "Updater.exe")
                                   .AddFile("updater.exe", "second")
                                   .Build();
  // Skipped entries count too.
  ZipWriter many;
  for (int i = 0; i <= 100'000; ++i) many.AddFile("__MACOSX/" + std::to_string(i), "", kStored);
  const Row rows[] = {
      {"empty file", "", "can't read " + ArchiveText()},
      {"not a ZIP archive", "PK not a zip", "not a valid ZIP archive: " + ArchiveText()},
      {"cancelled", bytes({"a", "b", "c"}), "cancelled", {"a", "b"}, false, {}, 2},
      // Only a top-level folder that holds every entry is dropped, listed or not.
      {"strip, no folder entry", bytes({"jdk/bin/java", "jdk\\release"}), "ok", stripped, true},
      {"strip, two folders", bytes({"a/x", "b/y"}), "ok", {"a/", "a/x", "b/", "b/y"}, true},
      {"strip, a top-level file", bytes({"a/x", "top"}), "ok", {"a/", "a/x", "top"}, true},
      {"strip, a longer name", bytes({"a/y", "ab/x"}), "ok", {"a/", "a/y", "ab/", "ab/x"}, true},
      {"strip, a file", bytes({"a", "a/x"}), "can't create *", {"a"}, true},
      // Only the first file of that name, in any letter case, straight into the destination.
      {"only file", onlyFile, "ok", {"Updater.exe"}, false, "Updater.exe"},
      {"only file, missing", bytes({"a"}), notFound, {}, false, "missing.dll"},
      // Names that leave the folder, or have no file name: refused before anything is written.
      {"parent", bytes({"kept", "a\\..\\..\\e"}), unsafe + "a\\..\\..\\e"},
      // Only well-formed UTF-8 can become a file name on every platform.
      {"Latin-1", bytes({"kept", "caf\xE9/x.txt"}), unsafe + "caf\\xE9/x.txt"},
      {"overlong '/'", bytes({"\xC0\xAF"}), unsafe + "\\xC0\\xAF"},
      {"surrogate", bytes({"\xED\xA0\x80"}), unsafe + "\\xED\\xA0\\x80"},
      {"beyond U+10FFFF", bytes({"\xF4\x90\x80\x80"}), unsafe + "\\xF4\\x90\\x80\\x80"},
      {"cut sequence", bytes({"\xE2\x82"}), unsafe + "\\xE2\\x82"},
      {"NUL in name", bytes({"kept", std::string("a\0b", 3)}), unsafe + "a\\x00b"},
      // Device names land as ordinary files: every access goes through the long form.
      {"device names",
       bytes({"CON", "nul.txt", "aux", "lpt1/conin$"}),
       "ok",
       {"CON", "aux", "lpt1/", "lpt1/conin$", "nul.txt"}},
      // A symbolic link is written as a plain file holding the link text.
      {"symbolic link as a folder",
       ZipWriter()
           .Add({.name = "up", .data = "..", .externalAttributes = 0120777u << 16})
           .AddFile("up/sentinel", "overwritten")
           .Build(),
       "can't create " + core::PathToUtf8(out_ / "up") + ": *",
       {"up"}},
      // One path, two entries; folders listed twice are harmless.
      {"names differing in case", bytes({"ReadMe.txt", "README.TXT"}), conflict + "README.TXT"},
      {"folder, then file of that name", bytes({"A/", "a"}), conflict + "a"},
      {"folder twice", bytes({"d/", "d/", "d/x"}), "ok", {"d/", "d/x"}},
      // Data on a folder is ignored; the folder is made.
      {"DOS folder with data",
       one({.name = "dos",
            .data = "data",
            .versionMadeBy = testing::kMadeOnDos,
            .externalAttributes = 0x10}),
       "ok",
       {"dos/"}},
      // A stub before the archive, counted in the offsets.
      {"self-extracting",
       ZipWriter{.prefix = "MZ" + std::string(5000, '\x90')}.AddFile("a.txt", "a.txt").Build(),
       "ok",
       {"a.txt"}},
      {"entry path too long", bytes({DeepPath(1025)}), "entry path too long (1025 chars)"},
      // A longer name is cut by the 2,048-byte name buffer before any check.
      {"name beyond the buffer", bytes({DeepPath(5000)}), "entry path too long (2047 chars)"},
      {"too many entries", many.Build(), "archive has too many entries (100001)"},
      // Refused by the declared sizes before a byte is written.
      {"ZIP64 uncompressed size 2^64 - 1",
       one({.name = "big", .data = "a", .uncompressedSize = UINT64_MAX, .zip64 = true}),
       "entry too large (17592186044415 MiB): big"},
      // Refused while writing, never beyond the declared size; what was written stays.
      {"inflates beyond its size",
       one({.name = "lie", .data = std::string(16 << 20, '\0'), .uncompressedSize = 1024}),
       "failed to extract lie",
       {"lie"}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(core::LongPath(out_));
    std::ofstream(archive_, std::ios::binary | std::ios::trunc) << row.bytes;
    options_.onlyFile = row.onlyFile;
    options_.stripTopLevelFolder = row.strip;
    options_.cancelled = [begun = 0, after = row.cancelAfter]() mutable {
      return after >= 0 && ++begun > after;
    };
    const std::string outcome = Run();
    EXPECT_TRUE(row.outcome.ends_with('*')
                    ? outcome.starts_with(row.outcome.substr(0, row.outcome.size() - 1))
                    : outcome == row.outcome)
        << outcome;
    const Tree tree = TreeOf(out_);
    EXPECT_EQ(tree, row.tree);
    for (const std::string& path : tree) {
      const std::string data = path.ends_with('/') ? "" : ReadFile(out_ / core::PathFromUtf8(path));
      EXPECT_LE(data.size(), 1024u) << path;
      EXPECT_TRUE(outcome != "ok" || path.ends_with('/') || data.ends_with(path)) << path;
    }
    Tree outside = TreeOf(root_);
    std::erase_if(outside, [](const std::string& item) { return item.starts_with("out/"); });
    EXPECT_EQ(outside, (Tree{"in.zip", "sentinel"}));
    EXPECT_EQ(ReadFile(sentinel), kSentinel);
  }

  out_ = archive_ / "below-a-file";
  const std::string below = Run();
  EXPECT_TRUE(below.starts_with("can't create " + core::PathToUtf8(out_) + ": ")) << below;
  // A sparse file: the size is judged before a byte is read.
  fs::resize_file(archive_, 2048 * kMiB + 1);
  EXPECT_EQ(Run(), "archive too large (2048 MiB): " + ArchiveText());
}

}  // namespace
}  // namespace kestrivon::archive
