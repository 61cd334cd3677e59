#include "core/installed_versions.h"

#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

namespace fs = std::filesystem;

TEST(InstalledVersions, WritesTheExactFileTextOrKeepsTheOldRecord) {
  testing::TempDir dir;
  testing::LogCapture log;
  const fs::path config = dir.path() / "config";
  fs::create_directories(config);
  std::ofstream(config / "versions.json.tmp") << std::string(10000, 'x');
  const InstalledVersions record{{"1.4.0", "ABCDEF"}, {"21.0.2 «LTS»", "0123"}, "ff"};

  ASSERT_TRUE(WriteInstalledVersions(dir.path(), record));
  std::ifstream written(config / "versions.json", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}),
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
  written.close();  // an open file cannot be removed on Windows
  EXPECT_FALSE(fs::exists(config / "versions.json.tmp"));
  EXPECT_EQ(SerializeInstalledVersions(ReadInstalledVersions(dir.path())),
            SerializeInstalledVersions(record));

  // The temporary file cannot be created: its name is taken by a folder.
  fs::create_directories(config / "versions.json.tmp");
  EXPECT_FALSE(WriteInstalledVersions(dir.path(), {{"3.0.0", ""}, {}, ""}));
  EXPECT_EQ(ReadInstalledVersions(dir.path()).launcher.version, "1.4.0");
  // The rename fails: the record's name is taken by a non-empty folder.
  fs::remove_all(config);
  fs::create_directories(config / "versions.json" / "inner");
  EXPECT_FALSE(WriteInstalledVersions(dir.path(), {{"3.0.0", ""}, {}, ""}));
  ASSERT_EQ(log.Texts().size(), 2u);
  EXPECT_EQ(log.Texts()[0], "[ERROR] Can't write " + (config / "versions.json.tmp").string());
  EXPECT_TRUE(log.Texts()[1].starts_with("[ERROR] Can't replace " +
                                         (config / "versions.json").string() + ": "))
      << log.Texts()[1];
}

TEST(InstalledVersions, ReadingIsLenient) {
  const InstalledVersions mixed =
      ParseInstalledVersions(R"({"launcher":"1.0.0","jre":{"version":"21","sha256":5,"x":1},)"
                             R"("updater_archive_sha256":"aa","unknown":[1]})");
  EXPECT_EQ(SerializeInstalledVersions(mixed), SerializeInstalledVersions({{}, {"21", ""}, "aa"}));
  for (const char* text : {"", "[]", "{", "{\"launcher\":{\"version\":\"1\"}} x"}) {
    EXPECT_TRUE(ParseInstalledVersions(text).launcher.version.empty()) << text;
  }
}

}  // namespace
}  // namespace kestrivon::core
