#include "archive/extract_zip.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef __linux__
#include <malloc.h>
#endif

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
using testing::ZipWriter;
using testing::ZipWriterEntry;
using Tree = std::vector<std::string>;

constexpr uint64_t kMiB = uint64_t{1} << 20;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(core::LongPath(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Sorted relative paths below `folder`, folders ending in '/'; read through the long form.
Tree TreeOf(const fs::path& folder) {
  Tree out;
  const fs::path root = core::LongPath(folder);
  if (!fs::exists(root)) return out;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    // By text: the long form has no root that lexically_relative understands.
    std::string relative = core::PathToUtf8(item.path()).substr(core::PathToUtf8(root).size() + 1);
    std::replace(relative.begin(), relative.end(), '\\', '/');
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

  ExtractOptions options_;
  kestrivon::testing::TempDir temp_;
  const fs::path root_ = temp_.path();
  const fs::path archive_ = root_ / "in.zip";
  const std::string archiveText_ = core::PathToUtf8(archive_);
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
  // Files only are counted; the total includes the two folders but no skipped entry.
  EXPECT_EQ(progress, (decltype(progress){{1, 5}, {2, 5}, {3, 5}}));
  EXPECT_EQ(log.Texts(),
            (Tree{"[INFO] Extracting " + archiveText_ + " without its top-level folder \"jdk\"",
                  "[INFO] Extracted " + archiveText_ + " (3 files) to " + core::PathToUtf8(out_)}));

  // An existing file is replaced, not appended to or left longer. The longest path goes far
  // beyond the 260 characters that only the long form reaches on Windows.
  const fs::path longest = out_ / core::PathFromUtf8(DeepPath(1024));
  ASSERT_TRUE(Files({"bin/java.exe", DeepPath(1024)}).WriteTo(archive_));
  ASSERT_EQ(Run(), "ok");
  EXPECT_EQ(ReadFile(out_ / "bin" / "java.exe"), "bin/java.exe");
  EXPECT_EQ(ReadFile(longest), DeepPath(1024));
  // Leaf first: mingw's directory iteration, and so remove_all, fails at this length.
  for (fs::path item = longest; item != out_; item = item.parent_path()) {
    ASSERT_TRUE(fs::remove(core::LongPath(item))) << core::PathToUtf8(item);
  }
}

TEST(EntryPath, EachNameIsAcceptedSkippedOrUnsafe) {
  const std::pair<std::string_view, std::string_view> accepted[] = {
      {"bin\\/lib///x.dll/", "bin/lib/x.dll"},
      {"lib/META-INF/x", "lib/META-INF/x"},  // only a first component meta-inf is dropped
      {"console/com10/lpt/nul_/con-x", "console/com10/lpt/nul_/con-x"},
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
       {"/etc/passwd", "\\windows\\x", "C:x", "z:\\x.dll", "..", "a/b/..", "a\\..\\..\\b",
        // ".." is unsafe even where a later rule would only skip the name.
        "META-INF/../x", "__MACOSX/../x"}},
      // Refused too: a component no Windows program can open, in any letter case.
      {EntryPathVerdict::Unusable,
       {"lib/CON", "aux.txt", "NUL .log", "com1", "LPT9.x/y", "a/conin$", "CONOUT$.txt",
        "com\xC2\xB9", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b",
        "a\x01"
        "b",
        "a\x7F"
        "b",
        "a\xC2\x85"
        "b",
        "META-INF/nul"}},
      {EntryPathVerdict::Skip,
       {"", "meta-inf", "Meta-Inf/x", "a/__macosx/b", "a/.DS_Store", "THUMBS.DB", "x/Desktop.INI",
        "a/./b", "a./b", "a /b", "a/b:c", "1:x"}}};
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
      {CheckDiskSpace(kMiB, 3 * kMiB), ""},
      {CheckDiskSpace(kMiB, 3 * kMiB - 1), "not enough disk space (need 3 MiB, have 2 MiB)"},
      {CheckEntryCount(0, "a.zip"), "archive is empty: a.zip"},
      {CheckEntryCount(100'000, "a.zip"), ""},
      {EntryLimits().Admit("b", 500 * kMiB, 500 * kMiB), ""},
      {EntryLimits().Admit("b", 500 * kMiB + 1, 500 * kMiB + 1), "entry too large (500 MiB): b"},
      // Size comes before ratio.
      {EntryLimits().Admit("b", 1, 600 * kMiB), "entry too large (600 MiB): b"},
      {EntryLimits().Admit("a", 1024, 100 * 1024), ""},
      {EntryLimits().Admit("a", 1024, 101 * 1024), "suspicious compression ratio for a"},
      // Integer division: 101 KiB - 1 over 1 KiB is still 100.
      {EntryLimits().Admit("a", 1024, 101 * 1024 - 1), ""},
      // Nothing to divide by: no ratio to judge.
      {EntryLimits().Admit("a", 0, 100 * kMiB), ""},
      {total.Admit("p", kMiB, 72 * kMiB), ""},  // exactly 3072 MiB
      {total.Admit("p", 0, 1), "extracted size exceeds 3072 MiB"}};
  for (const auto& [result, expected] : cases) EXPECT_EQ(result ? "" : result.error(), expected);
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

// Each archive, hostile or not, ends as designed; nothing outside the folder appears or changes.
TEST_F(ExtractZipTest, EachArchiveEndsAsDesignedInsideItsFolder) {
  EXPECT_EQ(Run(), "can't read " + archiveText_);  // none yet
  std::ofstream(root_ / "sentinel", std::ios::binary) << "sentinel";
  const std::string unsafe = "unsafe entry path in archive: ";
  const std::string conflict = "conflicting entry path in archive: ";
  const std::string reserved = "reserved entry name in archive: ";
  const auto one = [](ZipWriterEntry entry) { return ZipWriter().Add(std::move(entry)).Build(); };
  const auto bytes = [](std::initializer_list<std::string> names) { return Files(names).Build(); };
  const std::string onlyFile = Files({"pkg/", "pkg/a", "pkg/updater.exe/"})
                                   .AddFile("pkg/bin/UPDATER.exe", "Updater.exe")
                                   .AddFile("updater.exe", "second")
                                   .Build();
  // Skipped entries count too.
  ZipWriter many;
  for (int i = 0; i <= 100'000; ++i) many.AddDirectory("__MACOSX/" + std::to_string(i) + "/");
  const Row rows[] = {
      {"empty file", "", "can't read " + archiveText_},
      {"not a ZIP archive", "PK not a zip", "not a valid ZIP archive: " + archiveText_},
      {"cancelled", bytes({"a", "b", "c"}), "cancelled", {"a", "b"}, false, {}, 2},
      // Only a top-level folder that holds every entry is dropped, listed or not.
      {"strip, unlisted", bytes({"j/b/x", "j\\y"}), "ok", {"b/", "b/x", "y"}, true},
      {"strip, two folders", bytes({"a/x", "b/y"}), "ok", {"a/", "a/x", "b/", "b/y"}, true},
      {"strip, a longer name", bytes({"a/y", "ab/x"}), "ok", {"a/", "a/y", "ab/", "ab/x"}, true},
      {"strip, a file", bytes({"a", "a/x"}), "can't create *", {"a"}, true},
      // Only the first file of that name, in any letter case, straight into the destination.
      {"only file", onlyFile, "ok", {"Updater.exe"}, false, "Updater.exe"},
      {"only file, missing", bytes({"a"}), "b not found in " + archiveText_, {}, false, "b"},
      // Names that leave the folder, or have no file name: refused before anything is written.
      {"parent", bytes({"kept", "a\\..\\..\\e"}), unsafe + "a\\..\\..\\e"},
      // Only well-formed UTF-8 can become a file name on every platform.
      {"Latin-1", bytes({"kept", "caf\xE9/x.txt"}), unsafe + "caf\\xE9/x.txt"},
      {"overlong '/'", bytes({"\xC0\xAF"}), unsafe + "\\xC0\\xAF"},
      {"surrogate", bytes({"\xED\xA0\x80"}), unsafe + "\\xED\\xA0\\x80"},
      {"beyond U+10FFFF", bytes({"\xF4\x90\x80\x80"}), unsafe + "\\xF4\\x90\\x80\\x80"},
      {"cut sequence", bytes({"\xE2\x82"}), unsafe + "\\xE2\\x82"},
      {"NUL in name", bytes({"kept", std::string("a\0b", 3)}), unsafe + "a\\x00b"},
      // Names the long form could create but no program could open or delete afterwards.
      {"device name", bytes({"kept", "lib/CON"}), reserved + "lib/CON"},
      {"device name with extension", bytes({"kept", "x/Aux.txt"}), reserved + "x/Aux.txt"},
      {"control character", bytes({"kept", "a\x1B[2Jb"}), reserved + "a\\x1B[2Jb"},
      {"reserved character", bytes({"kept", "a?b"}), reserved + "a?b"},
      // Look-alikes of device names are ordinary names.
      {"almost device names",
       bytes({"CONSOLE", "com10", "lpt", "nul_"}),
       "ok",
       {"CONSOLE", "com10", "lpt", "nul_"}},
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
      {"DOS", one({.name = "d", .versionMadeBy = 20, .externalAttributes = 0x10}), "ok", {"d/"}},
      // A stub before the archive, counted in the offsets.
      {"self-extracting", ZipWriter{.prefix = "MZ"}.AddFile("a", "a").Build(), "ok", {"a"}},
      {"entry path too long", bytes({DeepPath(1025)}), "entry path too long (1025 chars)"},
      // A longer name is cut by the 2,048-byte name buffer before any check.
      {"name beyond the buffer", bytes({DeepPath(5000)}), "entry path too long (2047 chars)"},
      {"too many entries", many.Build(), "archive has too many entries (100001)"},
      // Refused by the declared sizes before a byte is written.
      {"ZIP64 uncompressed size 2^64 - 1",
       one({.name = "big", .data = "a", .uncompressedSize = UINT64_MAX, .zip64 = true}),
       "entry too large (17592186044415 MiB): big"},
      // A failing entry ends the run; what was written stays.
      {"bad CRC", one({.name = "c", .crc32 = 1}), "failed to extract c", {"c"}}};
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
    EXPECT_EQ(
        row.outcome.ends_with('*') ? outcome.substr(0, row.outcome.size() - 1) + '*' : outcome,
        row.outcome);
    const Tree tree = TreeOf(out_);
    EXPECT_EQ(tree, row.tree);
    for (const std::string& path : tree) {
      EXPECT_TRUE(outcome != "ok" || path.ends_with('/') ||
                  ReadFile(out_ / core::PathFromUtf8(path)).ends_with(path))
          << path;
    }
    Tree outside = TreeOf(root_);
    std::erase_if(outside, [](const std::string& item) { return item.starts_with("out/"); });
    EXPECT_EQ(outside, (Tree{"in.zip", "sentinel"}));
    EXPECT_EQ(ReadFile(root_ / "sentinel"), "sentinel");
  }

  // A throwing callback ends the run as text: no exception reaches the caller's thread.
  options_ = {};
  options_.progress = [](uint64_t, uint64_t) { throw std::runtime_error("boom"); };
  std::ofstream(archive_, std::ios::binary | std::ios::trunc) << bytes({"a"});
  EXPECT_EQ(Run(), "failed to extract " + archiveText_ + ": boom");
  options_ = {};

  out_ = archive_ / "below-a-file";
  const std::string below = Run();
  EXPECT_TRUE(below.starts_with("can't create " + core::PathToUtf8(out_) + ": ")) << below;
  // A sparse file: the size is judged before a byte is read.
  fs::resize_file(archive_, 2048 * kMiB + 1);
  EXPECT_EQ(Run(), "archive too large (2048 MiB): " + archiveText_);
}

// However many threads write, the same files and the same progress, once per file and in order;
// of several failures the earliest entry's counts, even when a later one is found first.
TEST_F(ExtractZipTest, EveryWorkerCountWritesAlikeAndReportsTheEarliestFailure) {
  ZipWriter good;
  for (int i = 0; i < 24; ++i) {
    std::string name(1, 'd');  // built piecewise: g++ 12 misreads "d" + std::to_string(...)
    name += std::to_string(i % 3) + "/f" + std::to_string(i);
    // Large files are written from a thread of their own.
    const size_t size = i == 12 ? 9 << 20 : i % 6 == 0 ? 3 << 20 : 100 + i;
    good.AddFile(name, testing::Text(size) + name);
  }
  // The large entry fails at its very end, long after the refused one behind it was reached.
  const std::string bad = ZipWriter()
                              .AddFile("a", "a")
                              .Add({.name = "big", .data = testing::Text(16 << 20), .crc32 = 1})
                              .AddFile("b", "b")
                              .Add({.name = "bomb", .data = "x", .uncompressedSize = 1000})
                              .Build();
  std::vector<uint64_t> expected(24);
  for (uint64_t i = 0; i < 24; ++i) expected[i] = i + 1;
  for (const unsigned workers : {1u, 2u, 4u}) {
    SCOPED_TRACE(workers);
    options_.workers = workers;
    std::vector<uint64_t> progress;
    options_.progress = [&](uint64_t done, uint64_t all) {
      EXPECT_EQ(all, 24u);
      progress.push_back(done);
    };
    fs::remove_all(out_);
    ASSERT_TRUE(good.WriteTo(archive_));
    ASSERT_EQ(Run(), "ok");
    EXPECT_EQ(progress, expected);
    const Tree tree = TreeOf(out_);
    EXPECT_EQ(tree.size(), 27u);
    for (const std::string& path : tree) {
      EXPECT_TRUE(path.ends_with('/') || ReadFile(out_ / path).ends_with(path)) << path;
    }
    options_.progress = {};
    std::ofstream(archive_, std::ios::binary | std::ios::trunc) << bad;
    EXPECT_EQ(Run(), "failed to extract big");
  }
}

#ifdef __linux__
// Memory and descriptors stay flat across many extractions, failed ones too, as the updater's
// long-lived process needs. Linux only: /proc and glibc's heap (not the sanitizer build's).
TEST_F(ExtractZipTest, MemoryAndDescriptorsStayFlat) {
  // Live heap bytes (big buffers too, once glibc's mmap threshold has risen) and descriptors.
  const auto usage = [] {
    return std::pair(mallinfo2().uordblks,
                     std::distance(fs::directory_iterator("/proc/self/fd"), {}));
  };
  // Every other run takes one file; the others stop at the last entry's CRC.
  ASSERT_TRUE(Files({"d/", "d/a", "d/b"}).Add({.name = "d/c", .crc32 = 1}).WriteTo(archive_));
  options_.stripTopLevelFolder = true;
  std::pair<size_t, ptrdiff_t> before;
  for (int i = 0; i < 1020; ++i) {
    if (i == 20) before = usage();  // after a few calls that settle caches
    options_.onlyFile = i % 2 ? "b" : "";
    ASSERT_EQ(Run(), i % 2 ? "ok" : "failed to extract c");
  }
  const auto [heap, descriptors] = usage();
  EXPECT_LE(heap, before.first + 16 * 1024);
  EXPECT_EQ(descriptors, before.second);
}
#endif

}  // namespace
}  // namespace kestrivon::archive
