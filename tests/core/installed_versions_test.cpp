#include "core/installed_versions.h"

#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

TEST(InstalledVersions, WritesTheExactFileText) {
  testing::TempDir dir;
  InstalledVersions record;
  record.launcher = {"1.4.0", "ABCDEF"};
  record.jre = {"21.0.2 «LTS»", "0123"};
  record.updaterArchiveSha256 = "ff";

  ASSERT_TRUE(WriteInstalledVersions(dir.path(), record));  // creates "config" as well
  EXPECT_EQ(ReadFile(dir.path() / "config" / "versions.json"),
            "{\n"
            "  \"jre\": {\n"
            "    \"sha256\": \"0123\",\n"
            "    \"version\": \"21.0.2 «LTS»\"\n"
            "  },\n"
            "  \"launcher\": {\n"
            "    \"sha256\": \"ABCDEF\",\n"
            "    \"version\": \"1.4.0\"\n"
            "  },\n"
            "  \"updater_archive_sha256\": \"ff\"\n"
            "}\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "config" / "versions.json.tmp"));

  EXPECT_EQ(SerializeInstalledVersions(ReadInstalledVersions(dir.path())),
            SerializeInstalledVersions(record));
}

TEST(InstalledVersions, ReadingIsLenient) {
  const InstalledVersions mixed =
      ParseInstalledVersions(R"({"launcher":"1.0.0","jre":{"version":"21","sha256":5,"x":1},)"
                             R"("updater_archive_sha256":"aa","unknown":[1]})");
  EXPECT_TRUE(mixed.launcher.version.empty());
  EXPECT_EQ(mixed.jre.version, "21");
  EXPECT_TRUE(mixed.jre.sha256.empty());
  EXPECT_EQ(mixed.updaterArchiveSha256, "aa");

  for (const char* text : {"", "[]", "{", "\"text\"", "{\"launcher\":{\"version\":\"1\"}} x"}) {
    const InstalledVersions record = ParseInstalledVersions(text);
    EXPECT_TRUE(record.launcher.version.empty() && record.updaterArchiveSha256.empty()) << text;
  }

  testing::TempDir dir;
  EXPECT_TRUE(ReadInstalledVersions(dir.path() / "missing").jre.version.empty());
}

TEST(InstalledVersions, ALeftOverTemporaryFileIsOverwritten) {
  testing::TempDir dir;
  WriteFile(dir.path() / "config" / "versions.json.tmp", std::string(10000, 'x'));
  InstalledVersions record;
  record.launcher.version = "2.0.0";
  ASSERT_TRUE(WriteInstalledVersions(dir.path(), record));
  EXPECT_EQ(ReadInstalledVersions(dir.path()).launcher.version, "2.0.0");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "config" / "versions.json.tmp"));
}

TEST(InstalledVersions, FailuresKeepTheOldRecordAndAreLogged) {
  testing::TempDir dir;
  testing::LogCapture log;
  InstalledVersions record;
  record.launcher.version = "3.0.0";

  // The temporary file cannot be created: its name is taken by a folder.
  WriteFile(dir.path() / "config" / "versions.json", "{\"launcher\":{\"version\":\"old\"}}");
  std::filesystem::create_directories(dir.path() / "config" / "versions.json.tmp");
  EXPECT_FALSE(WriteInstalledVersions(dir.path(), record));
  EXPECT_EQ(ReadInstalledVersions(dir.path()).launcher.version, "old");
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].first, LogLevel::Error);
  EXPECT_EQ(log.lines()[0].second,
            "Can't write " + (dir.path() / "config" / "versions.json.tmp").string());

  // The rename fails: the record's name is taken by a non-empty folder.
  testing::TempDir other;
  WriteFile(other.path() / "config" / "versions.json" / "inner", "x");
  EXPECT_FALSE(WriteInstalledVersions(other.path(), record));
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_TRUE(log.lines()[1].second.starts_with(
      "Can't replace " + (other.path() / "config" / "versions.json").string() + ": "))
      << log.lines()[1].second;
  EXPECT_TRUE(std::filesystem::exists(other.path() / "config" / "versions.json.tmp"));
}

}  // namespace
}  // namespace kestrivon::core
