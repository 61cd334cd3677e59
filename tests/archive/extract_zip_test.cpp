#include "archive/extract_zip.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
using Tree = std::vector<std::string>;
using Progress = std::vector<std::pair<uint64_t, uint64_t>>;

constexpr uint64_t kMiB = uint64_t{1} << 20;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(core::LongPath(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Every file and folder below `root`, relative, '/'-separated, sorted; folders end in '/'.
Tree TreeOf(const fs::path& root) {
  Tree out;
  if (!fs::exists(root)) return out;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string relative = core::PathToUtf8(item.path().lexically_relative(root));
    std::replace(relative.begin(), relative.end(), '\\', '/');
    out.push_back(item.is_directory() ? relative + "/" : relative);
  }
  std::sort(out.begin(), out.end());
  return out;
}

class ExtractZipTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Fails on Windows while the extraction still holds a handle below; the long form
    // because some tests go beyond 260 characters.
    std::error_code error;
    fs::remove_all(core::LongPath(root_), error);
    EXPECT_FALSE(error) << error.message();
  }

  std::string Extract(const ZipWriter& writer, const ExtractOptions& options = {}) {
    EXPECT_TRUE(writer.WriteTo(archive_));
    return Run(options);
  }

  std::string Run(const ExtractOptions& options = {}) {
    const auto result = ExtractZip(archive_, out_, options);
    return result ? "ok" : result.error();
  }

  std::string ArchiveText() const { return core::PathToUtf8(archive_); }

  kestrivon::testing::TempDir temp_;
  const fs::path root_ = temp_.path();
  const fs::path archive_ = root_ / "in.zip";
  fs::path out_ = root_ / "out";
};

TEST_F(ExtractZipTest, ExtractsFilesAndFoldersAndReportsProgress) {
  kestrivon::testing::LogCapture log;
  out_ = root_ / "not" / "yet" / "there";
  const std::string big = testing::Text(3 << 20);
  const std::string utf8 = "\xC3\xA9t\xC3\xA9";
  Progress progress;
  ExtractOptions options;
  options.progress = [&](uint64_t done, uint64_t total) { progress.emplace_back(done, total); };
  ZipWriter writer;
  writer.AddDirectory("bin/").AddFile("bin/java.exe", big).AddDirectory("empty/");
  writer.AddFile("lib/deep/er/x.dat", "abc", kStored).AddFile(utf8, "");
  // Left out silently, and so needing no file name whatever their bytes.
  for (const char* skipped : {"META-INF/MANIFEST.MF", "__MACOSX/\xFF"})
    writer.AddFile(skipped, "m");
  ASSERT_EQ(Extract(writer, options), "ok");
  EXPECT_EQ(TreeOf(out_), (Tree{"bin/", "bin/java.exe", "empty/", "lib/", "lib/deep/",
                                "lib/deep/er/", "lib/deep/er/x.dat", utf8}));
  EXPECT_EQ(ReadFile(out_ / "bin" / "java.exe"), big);
  EXPECT_EQ(ReadFile(out_ / "lib/deep/er/x.dat"), "abc");
  // Files only are counted; the total includes the two folders but no skipped entry.
  EXPECT_EQ(progress, (Progress{{1, 5}, {2, 5}, {3, 5}}));
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"[INFO] Extracted " + ArchiveText() +
                                                  " (3 files) to " + core::PathToUtf8(out_)});

  // An existing file is replaced, not appended to or left longer.
  ASSERT_EQ(Extract(ZipWriter().AddFile("bin/java.exe", "new")), "ok");
  EXPECT_EQ(ReadFile(out_ / "bin" / "java.exe"), "new");
}

TEST_F(ExtractZipTest, StripsOnlyATopLevelFolderThatHoldsEverything) {
  ExtractOptions options;
  options.stripTopLevelFolder = true;
  const Tree stripped = {"bin/", "bin/java", "release"};
  const auto jdk = [](ZipWriter writer) {
    return writer.AddFile("jdk-17/bin/java", "j").AddFile("jdk-17\\release", "r");
  };
  const std::pair<ZipWriter, Tree> cases[] = {
      {jdk(ZipWriter().AddDirectory("jdk-17/")), stripped},
      {jdk(ZipWriter()), stripped},
      {ZipWriter().AddFile("a/x", "1").AddFile("b/y", "2"), {"a/", "a/x", "b/", "b/y"}},
      {ZipWriter().AddFile("a/x", "1").AddFile("top.txt", "2"), {"a/", "a/x", "top.txt"}},
      {ZipWriter().AddFile("a/y", "1").AddFile("ab/x", "2"), {"a/", "a/y", "ab/", "ab/x"}},
      // "a" as a file and as a folder cannot both exist; what matters is that nothing moved.
      {ZipWriter().AddFile("a", "file").AddFile("a/x", "1"), {"a"}}};
  for (const auto& [writer, tree] : cases) {
    kestrivon::testing::LogCapture log;
    fs::remove_all(out_);
    const std::string result = Extract(writer, options);
    EXPECT_TRUE(result == "ok" || (tree == Tree{"a"} && result.starts_with("can't create ")))
        << result;
    EXPECT_EQ(TreeOf(out_), tree);
    Tree lines;
    if (tree == stripped) {
      lines.push_back("[INFO] Extracting " + ArchiveText() +
                      " without its top-level folder \"jdk-17\"");
    }
    if (result == "ok") {
      lines.push_back("[INFO] Extracted " + ArchiveText() + " (2 files) to " +
                      core::PathToUtf8(out_));
    }
    EXPECT_EQ(log.Texts(), lines);
  }
}

TEST_F(ExtractZipTest, OnlyFileWritesTheFirstMatchStraightIntoTheDestination) {
  ExtractOptions options;
  options.onlyFile = "Updater.EXE";
  Progress progress;
  options.progress = [&](uint64_t done, uint64_t total) { progress.emplace_back(done, total); };
  ZipWriter writer;
  writer.AddDirectory("pkg/").AddFile("pkg/readme.txt", "r").AddDirectory("pkg/updater.exe/");
  writer.AddFile("pkg/bin/updater.exe", "first").AddFile("updater.exe", "second");
  ASSERT_EQ(Extract(writer, options), "ok");
  EXPECT_EQ(TreeOf(out_), Tree{"Updater.EXE"});
  EXPECT_EQ(ReadFile(out_ / "Updater.EXE"), "first");
  EXPECT_EQ(progress, (Progress{{1, 5}}));

  options.onlyFile = "missing.dll";
  fs::remove_all(out_);
  EXPECT_EQ(Run(options), "missing.dll not found in " + ArchiveText());
  EXPECT_EQ(TreeOf(out_), Tree{});
}

TEST_F(ExtractZipTest, CancellationStopsBetweenEntriesAndKeepsWhatWasWritten) {
  int polls = 0;
  ExtractOptions options;
  options.cancelled = [&polls] { return ++polls > 2; };
  EXPECT_EQ(Extract(ZipWriter().AddFile("a", "1").AddFile("b", "2").AddFile("c", "3"), options),
            "cancelled");
  EXPECT_EQ(TreeOf(out_), (Tree{"a", "b"}));
  EXPECT_EQ(polls, 3);
}

TEST_F(ExtractZipTest, EntryPathLengthAndCountAtTheirEdges) {
  // Components of 200 bytes at most, as any file system holds them. The longest path goes far
  // beyond the 260 characters that only the long form reaches on Windows.
  auto pathOf = [](size_t length) {
    std::string path(length, 'p');
    for (size_t at = 200; at < length; at += 201) path[at] = '/';
    return path;
  };
  const fs::path longest = out_ / core::PathFromUtf8(pathOf(1024));
  ASSERT_EQ(Extract(ZipWriter().AddFile(pathOf(1024), "deep")), "ok");
  EXPECT_EQ(ReadFile(longest), "deep");
  // Leaf first: mingw's directory iteration, and so remove_all, fails at this length.
  for (fs::path item = longest; item != out_; item = item.parent_path()) {
    ASSERT_TRUE(fs::remove(core::LongPath(item))) << core::PathToUtf8(item);
  }
  EXPECT_EQ(Extract(ZipWriter().AddFile(pathOf(1025), "x")), "entry path too long (1025 chars)");
  // A longer name is cut by the 2,048-byte name buffer before any check.
  EXPECT_EQ(Extract(ZipWriter().AddFile(pathOf(5000), "x")), "entry path too long (2047 chars)");

  EXPECT_EQ(Extract(ZipWriter()), "archive is empty: " + ArchiveText());
  ZipWriter many;
  for (int i = 0; i < 100'000; ++i) many.AddFile("__MACOSX/" + std::to_string(i), "", kStored);
  EXPECT_EQ(Extract(many), "ok");  // all skipped
  many.AddFile("one-more", "", kStored);
  EXPECT_EQ(Extract(many), "archive has too many entries (100001)");
}

TEST_F(ExtractZipTest, ArchiveFileProblems) {
  EXPECT_EQ(Run(), "can't read " + ArchiveText());
  std::ofstream(archive_).flush();
  EXPECT_EQ(Run(), "can't read " + ArchiveText());
  std::ofstream(archive_) << "this is not a zip archive at all";
  EXPECT_EQ(Run(), "not a valid ZIP archive: " + ArchiveText());
  const fs::path belowAFile = archive_ / "sub";
  const auto below = ExtractZip(archive_, belowAFile, {});
  ASSERT_FALSE(below);
  EXPECT_TRUE(below.error().starts_with("can't create " + core::PathToUtf8(belowAFile) + ": "))
      << below.error();

  // Sparse files: the size is judged before a byte is read.
  fs::resize_file(archive_, 2048 * kMiB);
  const std::string atLimit = Run();
  EXPECT_TRUE(atLimit == "not a valid ZIP archive: " + ArchiveText() ||
              atLimit.starts_with("not enough disk space (need 6144 MiB"))
      << atLimit;
  fs::resize_file(archive_, 2048 * kMiB + 1);
  EXPECT_EQ(Run(), "archive too large (2048 MiB): " + ArchiveText());
}

}  // namespace
}  // namespace kestrivon::archive
