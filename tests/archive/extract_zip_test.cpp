#include "archive/extract_zip.h"

#include <atomic>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "core/long_path.h"
#include "core/path_utf8.h"
#include "tests/support/zip_writer.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;
using test_support::kStored;
using test_support::ZipWriter;

constexpr uint64_t kMiB = uint64_t{1} << 20;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(core::LongPath(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Text that deflates well, but far less than 100 to 1.
std::string Varied(size_t size) {
  std::string out;
  for (uint64_t line = 0; out.size() < size; ++line) {
    out += std::to_string(line * 2654435761u % 1000003) + " filler text for the entry\n";
  }
  out.resize(size);
  return out;
}

// Every file and folder below `root`, relative, '/'-separated, sorted; folders end in '/'.
std::vector<std::string> Tree(const fs::path& root) {
  std::vector<std::string> out;
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
  void SetUp() override {
    static std::atomic<int> counter{0};
    root_ = fs::temp_directory_path() /
            ("kestrivon-extract-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
    std::error_code error;
    fs::remove_all(core::LongPath(root_), error);
    fs::create_directories(root_);
    archive_ = root_ / "in.zip";
    out_ = root_ / "out";
    core::SetLogSink([this](core::LogLevel, std::string_view line) { log_.emplace_back(line); });
  }

  void TearDown() override {
    core::SetLogSink(nullptr);
    // The long form: some tests go beyond 260 characters.
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

  fs::path root_;
  fs::path archive_;
  fs::path out_;
  std::vector<std::string> log_;
};

TEST_F(ExtractZipTest, ExtractsFilesAndFoldersAndReportsProgress) {
  const std::string big = Varied(3 << 20);
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  ExtractOptions options;
  options.progress = [&](uint64_t done, uint64_t total) { progress.emplace_back(done, total); };
  ASSERT_EQ(Extract(ZipWriter()
                        .AddDirectory("bin/")
                        .AddFile("bin/java.exe", big)
                        .AddDirectory("empty/")
                        .AddFile("lib/deep/er/x.dat", "abc", kStored)
                        .AddFile("readme.txt", ""),
                    options),
            "ok");
  EXPECT_EQ(Tree(out_),
            (std::vector<std::string>{"bin/", "bin/java.exe", "empty/", "lib/", "lib/deep/",
                                      "lib/deep/er/", "lib/deep/er/x.dat", "readme.txt"}));
  EXPECT_EQ(ReadFile(out_ / "bin" / "java.exe"), big);
  EXPECT_EQ(ReadFile(out_ / "lib/deep/er/x.dat"), "abc");
  // Files only are counted; the total includes the two folders.
  EXPECT_EQ(progress, (std::vector<std::pair<uint64_t, uint64_t>>{{1, 5}, {2, 5}, {3, 5}}));
  EXPECT_EQ(log_, (std::vector<std::string>{"Extracted " + ArchiveText() + " (3 files) to " +
                                            core::PathToUtf8(out_)}));
}

TEST_F(ExtractZipTest, OverwritesExistingFilesAndCreatesTheDestination) {
  out_ = root_ / "not" / "yet" / "there";
  fs::create_directories(out_);
  std::ofstream(out_ / "a.txt") << std::string(10'000, 'o');
  ASSERT_EQ(Extract(ZipWriter().AddFile("a.txt", "new")), "ok");
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "new");
}

TEST_F(ExtractZipTest, UnsafeNamesRefuseTheArchiveBeforeAnythingIsWritten) {
  for (const std::string name :
       {"../evil.txt", "a/../../evil.txt", "..\\evil.txt", "a\\..\\..\\evil.txt", "/abs.txt",
        "\\abs.txt", "C:evil.txt", "c:\\windows\\evil.txt"}) {
    EXPECT_EQ(Extract(ZipWriter().AddFile("first.txt", "1").AddFile(name, "x")),
              "unsafe entry path in archive: " + name);
    EXPECT_EQ(Tree(out_), std::vector<std::string>{}) << name;
  }
  EXPECT_EQ(Tree(root_), (std::vector<std::string>{"in.zip", "out/"}));
}

TEST_F(ExtractZipTest, NamesThatAreNotUtf8RefuseTheArchive) {
  // Such a name has no file name on Windows; guessing one could merge two entries.
  EXPECT_EQ(Extract(ZipWriter().AddFile("ok.txt", "1").AddFile("caf\xE9/x.txt", "x")),
            "unsafe entry path in archive: caf\\xE9/x.txt");
  EXPECT_EQ(Extract(ZipWriter().AddFile(std::string("a\0b.txt", 7), "x")),
            "unsafe entry path in archive: a\\x00b.txt");
  EXPECT_EQ(Tree(out_), std::vector<std::string>{});
  // A skipped entry needs no file name, whatever its bytes.
  EXPECT_EQ(Extract(ZipWriter().AddFile("__MACOSX/\xFF", "x").AddFile("\xC3\xA9t\xC3\xA9", "y")),
            "ok");
  EXPECT_EQ(ReadFile(out_ / core::PathFromUtf8("\xC3\xA9t\xC3\xA9")), "y");
}

TEST_F(ExtractZipTest, JunkAndOddNamesAreLeftOutSilently) {
  ASSERT_EQ(Extract(ZipWriter()
                        .AddFile("META-INF/MANIFEST.MF", "m")
                        .AddFile("meta-inf/x", "m")
                        .AddFile("__MACOSX/._a.txt", "m")
                        .AddFile("dir/.DS_Store", "m")
                        .AddFile("dir/THUMBS.DB", "m")
                        .AddFile("Desktop.ini", "m")
                        .AddFile("dir/trailing.", "m")
                        .AddFile("dir/ads:stream", "m")
                        .AddFile("dir/./x", "m")
                        .AddFile("", "m")
                        .AddFile("dir/kept.txt", "k")),
            "ok");
  EXPECT_EQ(Tree(out_), (std::vector<std::string>{"dir/", "dir/kept.txt"}));
}

TEST_F(ExtractZipTest, StripsTheOneTopLevelFolder) {
  for (const bool withFolderEntry : {true, false}) {
    fs::remove_all(out_);
    log_.clear();
    ZipWriter writer;
    if (withFolderEntry) writer.AddDirectory("jdk-17/");
    writer.AddFile("jdk-17/bin/java", "j").AddFile("jdk-17\\release", "r");
    ExtractOptions options;
    options.stripTopLevelFolder = true;
    ASSERT_EQ(Extract(writer, options), "ok");
    EXPECT_EQ(Tree(out_), (std::vector<std::string>{"bin/", "bin/java", "release"}));
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[0], "Extracting " + ArchiveText() + " without its top-level folder \"jdk-17\"");
  }
}

TEST_F(ExtractZipTest, KeepsTheLayoutWhenNoSingleFolderHoldsEverything) {
  ExtractOptions options;
  options.stripTopLevelFolder = true;
  const ZipWriter cases[] = {
      ZipWriter().AddFile("a/x", "1").AddFile("b/y", "2"),      // a second folder
      ZipWriter().AddFile("a/x", "1").AddFile("top.txt", "2"),  // a top-level file
      ZipWriter().AddFile("a", "file").AddFile("a/x", "1"),     // the prefix is a file
      ZipWriter().AddFile("ab/x", "1").AddFile("a/y", "2"),     // a prefix of a name only
  };
  for (const ZipWriter& writer : cases) {
    fs::remove_all(out_);
    log_.clear();
    const std::string result = Extract(writer, options);
    // "a" as a file and as a folder cannot both exist; what matters is that nothing moved.
    if (result != "ok") {
      EXPECT_TRUE(result.starts_with("can't")) << result;
    }
    EXPECT_EQ(log_.size(), result == "ok" ? 1u : 0u);
    EXPECT_FALSE(fs::exists(out_ / "x")) << result;
  }
}

TEST_F(ExtractZipTest, OnlyFileWritesTheFirstMatchStraightIntoTheDestination) {
  ExtractOptions options;
  options.onlyFile = "Updater.EXE";
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  options.progress = [&](uint64_t done, uint64_t total) { progress.emplace_back(done, total); };
  ASSERT_EQ(Extract(ZipWriter()
                        .AddDirectory("pkg/")
                        .AddFile("pkg/readme.txt", "r")
                        .AddDirectory("pkg/updater.exe/")
                        .AddFile("pkg/bin/updater.exe", "first")
                        .AddFile("updater.exe", "second"),
                    options),
            "ok");
  EXPECT_EQ(Tree(out_), std::vector<std::string>{"Updater.EXE"});
  EXPECT_EQ(ReadFile(out_ / "Updater.EXE"), "first");
  EXPECT_EQ(progress, (std::vector<std::pair<uint64_t, uint64_t>>{{1, 5}}));

  options.onlyFile = "missing.dll";
  fs::remove_all(out_);
  EXPECT_EQ(Run(options), "missing.dll not found in " + ArchiveText());
  EXPECT_EQ(Tree(out_), std::vector<std::string>{});
}

TEST_F(ExtractZipTest, CancellationStopsBetweenEntriesAndKeepsWhatWasWritten) {
  int polls = 0;
  ExtractOptions options;
  options.cancelled = [&polls] { return ++polls > 2; };
  EXPECT_EQ(Extract(ZipWriter().AddFile("a", "1").AddFile("b", "2").AddFile("c", "3"), options),
            "cancelled");
  EXPECT_EQ(Tree(out_), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(polls, 3);
}

TEST_F(ExtractZipTest, ALyingEntryWritesAtMostItsDeclaredSize) {
  const std::string zeros(16 << 20, '\0');
  EXPECT_EQ(Extract(ZipWriter()
                        .AddFile("fine.txt", "fine")
                        .Add({.name = "lie.bin", .data = zeros, .uncompressedSize = 1024})),
            "failed to extract lie.bin");
  EXPECT_LE(fs::file_size(out_ / "lie.bin"), 1024u);
  EXPECT_EQ(ReadFile(out_ / "fine.txt"), "fine");  // nothing is deleted after a failure
}

TEST_F(ExtractZipTest, BrokenEntriesFailToExtract) {
  const std::string text = Varied(100'000);
  const test_support::ZipWriterEntry cases[] = {
      {.name = "crc.txt", .data = text, .crc32 = 1},
      {.name = "encrypted.txt", .data = text, .flags = 1},
      {.name = "lzma.txt", .data = text, .method = 14},
      {.name = "named.txt", .data = text, .localName = "other.txt"},
      {.name = "short.txt", .data = text, .uncompressedSize = text.size() + 10},
  };
  for (const auto& entry : cases) {
    EXPECT_EQ(Extract(ZipWriter().Add(entry)), "failed to extract " + entry.name);
  }
  EXPECT_EQ(Extract(ZipWriter().AddFile("a", text).Add(
                {.name = "b", .data = text, .localHeaderOffset = 0})),
            "not a valid ZIP archive: " + ArchiveText());
}

TEST_F(ExtractZipTest, DeclaredSizesAreJudgedBeforeAnythingIsWritten) {
  EXPECT_EQ(Extract(ZipWriter().Add({.name = "dir/huge.bin",
                                     .data = "x",
                                     .method = kStored,
                                     .uncompressedSize = 500 * kMiB + 1})),
            "entry too large (500 MiB): dir/huge.bin");
  EXPECT_FALSE(fs::exists(out_ / "dir"));

  // A deflate stream padded to exactly 1 KiB: 100 KiB passes, 101 KiB is a bomb.
  auto padded = [](size_t size) {
    std::string raw = test_support::Deflate(std::string(size, '\0'));
    raw.resize(1024, '\0');
    return test_support::ZipWriterEntry{
        .name = "ratio.bin", .data = std::string(size, '\0'), .rawData = raw};
  };
  EXPECT_EQ(Extract(ZipWriter().Add(padded(100 * 1024))), "ok");
  EXPECT_EQ(fs::file_size(out_ / "ratio.bin"), 100u * 1024);
  fs::remove_all(out_);
  EXPECT_EQ(Extract(ZipWriter().Add(padded(101 * 1024))),
            "suspicious compression ratio for ratio.bin");
  EXPECT_FALSE(fs::exists(out_ / "ratio.bin"));
}

TEST_F(ExtractZipTest, EntryPathLengthAndCountAtTheirEdges) {
  // Components of at most 200 bytes, so that any file system could hold them.
  auto pathOf = [](size_t length) {
    std::string path;
    while (path.size() < length) {
      if (!path.empty()) path += '/';
      path += std::string(std::min<size_t>(200, length - path.size()), 'p');
    }
    return path;
  };
  const std::string longest = pathOf(1024) + "";
  ASSERT_EQ(longest.size(), 1024u);
  ExtractOptions options;
  options.onlyFile = longest.substr(longest.rfind('/') + 1);  // keep the folders shallow
  EXPECT_EQ(Extract(ZipWriter().AddFile(longest, "x"), options), "ok");
  EXPECT_EQ(Extract(ZipWriter().AddFile(pathOf(1025), "x"), options),
            "entry path too long (1025 chars)");
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

  ASSERT_TRUE(ZipWriter().AddFile("a", "1").WriteTo(archive_));
  out_ = root_ / "in.zip" / "sub";  // below a file
  const std::string result = Run();
  EXPECT_TRUE(result.starts_with("can't create " + core::PathToUtf8(out_) + ": ")) << result;
}

TEST_F(ExtractZipTest, ArchiveSizeLimitIsTwoGiB) {
  // Sparse files: the size is checked before a byte is read.
  const std::string end = ZipWriter().Build();
  {
    std::ofstream file(archive_, std::ios::binary);
    file.seekp(static_cast<std::streamoff>(2048 * kMiB - end.size()));
    file.write(end.data(), static_cast<std::streamsize>(end.size()));
  }
  ASSERT_EQ(fs::file_size(archive_), 2048 * kMiB);
  const std::string atLimit = Run();
  EXPECT_TRUE(atLimit == "archive is empty: " + ArchiveText() ||
              atLimit.starts_with("not enough disk space (need 6144 MiB"))
      << atLimit;
  fs::resize_file(archive_, 2048 * kMiB + 1);
  EXPECT_EQ(Run(), "archive too large (2048 MiB): " + ArchiveText());
}

TEST_F(ExtractZipTest, DeepPathsBeyondTheOldWindowsLimit) {
  // Beyond 260 characters in total: only the long form reaches it on Windows.
  const std::string path =
      std::string(120, 'a') + "/" + std::string(120, 'b') + "/" + std::string(60, 'c') + ".txt";
  ASSERT_EQ(Extract(ZipWriter().AddFile(path, "deep")), "ok");
  EXPECT_GT(core::PathToUtf8(out_ / path).size(), 300u);
  EXPECT_EQ(ReadFile(out_ / core::PathFromUtf8(path)), "deep");
  // Leaf first: mingw's directory iteration, and so remove_all, fails at this length.
  for (fs::path item = out_ / core::PathFromUtf8(path); item != out_; item = item.parent_path()) {
    EXPECT_TRUE(fs::remove(core::LongPath(item))) << core::PathToUtf8(item);
  }
}

}  // namespace
}  // namespace kestrivon::archive
