#include "core/partial_download.h"

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/content_hosts.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

const std::string kUrl = "https://" + std::string(cdnHost) + "/jre/jre-17.zip";
const std::string kVendorUrl = "https://" + std::string(allowedVendorHosts[1]) + "/jre-17.zip";
const std::string kSha = std::string(60, 'a') + "BCDE";

UpdateInfo Entry() { return {true, "17.0.1", kUrl, kVendorUrl, kSha, 5000}; }

std::string Record(const std::string& url = kUrl, const std::string& size = "5000",
                   const std::string& sha = kSha, const std::string& validator = "\"v1\"") {
  return "url=" + url + "\nsize=" + size + "\nsha256=" + sha + "\nvalidator=" + validator + "\n";
}

TEST(PartialRecord, ReadsOnlyWhatItWrites) {
  const PartialRecord record{kUrl, 5000, kSha, "Sun, 06 Dec 2026 10:00:00 GMT"};
  const auto parsed = ParsePartialRecord(FormatPartialRecord(record));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->url, record.url);
  EXPECT_EQ(parsed->size, record.size);
  EXPECT_EQ(parsed->sha256, record.sha256);
  EXPECT_EQ(parsed->validator, record.validator);

  const std::string bad[] = {
      "",
      Record().substr(0, Record().size() - 1),  // no final line end
      Record() + "extra=1\n",
      Record("http://" + std::string(cdnHost) + "/a.zip"),
      Record(kUrl + "\x01"),
      Record(kUrl, "0"),
      Record(kUrl, "-5"),
      Record(kUrl, "5k"),
      Record(kUrl, "99999999999999999999999"),
      Record(kUrl, "5000", kSha.substr(1)),
      Record(kUrl, "5000", kSha.substr(1) + "g"),
      Record(kUrl, "5000", kSha, ""),
      Record(kUrl, "5000", kSha, "\"v1\"\r"),
      "size=5000\nurl=" + kUrl + "\nsha256=" + kSha + "\nvalidator=x\n",
      Record(kUrl + std::string(5000, 'a')),
  };
  for (const std::string& text : bad) EXPECT_FALSE(ParsePartialRecord(text)) << text;
}

TEST(PartialRecord, ResumesOnlyTheSamePackageFromTheSameSource) {
  const auto record = ParsePartialRecord(Record());
  UpdateInfo otherDigest = Entry();
  otherDigest.sha256[0] = 'b';
  UpdateInfo otherSize = Entry();
  otherSize.size = 6000;
  UpdateInfo lowerCase = Entry();
  lowerCase.sha256 = std::string(60, 'a') + "bcde";
  const struct {
    const char* what;
    std::optional<PartialRecord> record;
    uint64_t fileSize;
    UpdateInfo entry;
    std::string url;
    uint64_t resumable;
  } cases[] = {
      {"same package and source", record, 1234, Entry(), kUrl, 1234},
      {"digest in another case", record, 1234, lowerCase, kUrl, 1234},
      {"complete, only to verify", record, 5000, Entry(), kUrl, 5000},
      {"longer than the package", record, 5001, Entry(), kUrl, 0},
      {"another source of the entry", record, 1234, Entry(), kVendorUrl, 0},
      {"another digest", record, 1234, otherDigest, kUrl, 0},
      {"another size", record, 1234, otherSize, kUrl, 0},
      {"no record", std::nullopt, 1234, Entry(), kUrl, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResumableLength(c.record, c.fileSize, c.entry, c.url), c.resumable) << c.what;
  }
}

TEST(PartialRecord, KeptFilesGoUnlessWantedOrTheirRecordIsReadable) {
  const testing::TempDir root;
  const auto temp = root.path() / "temp";
  std::filesystem::create_directories(temp);
  const auto wanted = temp / "jre-package.zip";
  const auto stale = temp / "launcher-package.zip";
  const auto damaged = temp / "updater-package.zip";
  for (const auto& package : {wanted, stale, damaged}) std::ofstream(package) << "part";
  WritePartialRecord(wanted, *ParsePartialRecord(Record()));
  WritePartialRecord(stale, *ParsePartialRecord(Record(kVendorUrl)));
  std::ofstream(PartialRecordPath(damaged)) << Record().substr(3);
  std::ofstream(temp / "oversized.zip.resume") << Record() << std::string(5000, '#');

  DiscardPartialDownloads(root.path(), [&](const auto& package, const PartialRecord& record) {
    return package == wanted && record.url == kUrl;
  });
  EXPECT_TRUE(std::filesystem::exists(wanted));
  EXPECT_TRUE(std::filesystem::exists(PartialRecordPath(wanted)));
  for (const auto& gone : {stale, PartialRecordPath(stale), damaged, PartialRecordPath(damaged),
                           temp / "oversized.zip.resume"}) {
    EXPECT_FALSE(std::filesystem::exists(gone)) << gone;
  }
}

}  // namespace
}  // namespace kestrivon::core
