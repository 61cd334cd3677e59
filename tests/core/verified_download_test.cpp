#include "core/verified_download.h"

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/extract_limits.h"
#include "core/partial_download.h"
#include "tests/support/fake_host.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

using testing::FakeDownloader;
using Strings = std::vector<std::string>;

// The hosts come from the build configuration, as the product's do.
const std::string kCdn = "https://" + std::string(cdnHost);
const std::string kCdnUrl = kCdn + "/launcher/launcher-1.2.3.zip";
const std::string kVendor = "https://" + std::string(allowedVendorHosts[0]);
const std::string kVendorUrl = kVendor + "/kestrivon/launcher/releases/l.zip";
const std::string kBody = "launcher archive bytes";
// SHA-256 of kBody.
const std::string kBodySha = "f467d3e5e17e957bf388f9efaf74f989cfd65256b27bac3f5230dc6710dc5041";

UpdateInfo Entry(bool withVendor) {
  return {true, "1.2.3", kCdnUrl, withVendor ? kVendorUrl : "", kBodySha, kBody.size()};
}

TEST(VerifiedDownload, CdnOnlyRetriesFourTimesWithGrowingPauses) {
  const testing::TempDir dir;
  const auto destination = dir.path() / "launcher-package.zip";
  FakeDownloader downloader;
  const std::string failure = "no connection (WinHTTP error 12029)";
  downloader.outcomes[kCdnUrl] = {"partial", DownloadError{failure, true}};
  const testing::LogCapture log;
  EXPECT_EQ(DownloadVerified(Entry(false), destination, downloader, {}).error(),
            DownloadFailure::Transfer);
  EXPECT_EQ(downloader.waits, (std::vector<int>{1000, 3000, 5000}));
  EXPECT_FALSE(std::filesystem::exists(destination));
  const std::string attempt = "[INFO] Downloading from CDN: " + kCdnUrl;
  const std::string failed = "[WARN] Download from CDN failed: " + failure;
  EXPECT_EQ(
      log.Texts(),
      (Strings{attempt, failed, "[WARN] Retrying CDN download in 1000 ms (attempt 2/4)", attempt,
               failed, "[WARN] Retrying CDN download in 3000 ms (attempt 3/4)", attempt, failed,
               "[WARN] Retrying CDN download in 5000 ms (attempt 4/4)", attempt, failed}));
}

TEST(VerifiedDownload, VendorOnceThenCdnWithoutPause) {
  const testing::TempDir dir;
  FakeDownloader downloader;
  downloader.outcomes = {{kVendorUrl, {"short"}}, {kCdnUrl, {kBody}}};
  const testing::LogCapture log;
  int progressReports = 0;
  ASSERT_TRUE(DownloadVerified(Entry(true), dir.path() / "launcher-package.zip", downloader,
                               [&progressReports](uint64_t, uint64_t) { ++progressReports; }));
  EXPECT_TRUE(downloader.waits.empty());
  EXPECT_EQ(downloader.calls, (Strings{"vendor " + kVendorUrl + " 1 10 65536 20",
                                       "CDN " + kCdnUrl + " 4 10 1024 60"}));
  EXPECT_EQ(progressReports, 2);  // the caller's callback reaches every transfer
  EXPECT_EQ(
      log.Texts(),
      (Strings{"[INFO] Downloading from vendor: " + kVendorUrl,
               "[WARN] File from vendor failed verification: size 5 != expected 22",
               "[INFO] Falling back to the next source", "[INFO] Downloading from CDN: " + kCdnUrl,
               "[INFO] Downloaded and verified launcher-package.zip from CDN"}));

  downloader.outcomes[kVendorUrl] = {"", DownloadError{"HTTP 503", true}};
  ASSERT_TRUE(DownloadVerified(Entry(true), dir.path() / "launcher-package.zip", downloader, {}));
  EXPECT_EQ(log.Texts().at(6), "[WARN] Download from vendor failed: HTTP 503");
}

// Where the download stops decides the result, and no file is left. The downloader's own
// "cancelled" is an ordinary failure: on the last source it stays a transfer failure, as does
// a transfer failure after a file that failed verification.
TEST(VerifiedDownload, ResultByWhereItStops) {
  using enum DownloadFailure;
  const DownloadError cancelled{"cancelled", false};
  const struct {
    const char* what;
    bool withVendor;
    FakeDownloader::Outcome first;  // of the first source
    int cancelDuringWait;           // -1: before the first attempt
    DownloadFailure expected;
    size_t transfers;
  } cases[] = {
      {"in the second pause", false, {"partial", DownloadError{"lost", true}}, 2, Cancelled, 2},
      {"before the first attempt", true, {}, -1, Cancelled, 0},
      {"by the downloader on the vendor", true, {"", cancelled, true}, 0, Cancelled, 1},
      {"by the downloader on the last source", false, {"", cancelled, true}, 0, Transfer, 1},
      {"while the file is hashed", false, {kBody, {}, true}, 0, Cancelled, 1},
      {"vendor file failing verification, then CDN failing", true, {"short"}, 0, Transfer, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    const auto destination = dir.path() / "jre-package.zip";
    std::ofstream(destination) << "left over";
    FakeDownloader downloader;
    downloader.outcomes[c.withVendor ? kVendorUrl : kCdnUrl] = c.first;
    downloader.cancelDuringWait = c.cancelDuringWait;
    downloader.cancelled = c.cancelDuringWait < 0;
    testing::LogCapture log;
    EXPECT_EQ(DownloadVerified(Entry(c.withVendor), destination, downloader, {}).error(),
              c.expected);
    EXPECT_EQ(downloader.calls.size(), c.transfers);
    EXPECT_FALSE(std::filesystem::exists(destination));
    // A check ended by cancellation is no verification failure.
    EXPECT_TRUE(log.Texts().empty() || !log.Texts().back().starts_with("[WARN] File from"));
  }
}

// A transfer that breaks off keeps its bytes and goes on from them; a cancelled one leaves
// them with their record for the next run, which goes on from the same source (the vendor,
// tried in the run that began them, is not asked again).
TEST(VerifiedDownload, ResumesWithinARunAndAcrossRuns) {
  const testing::TempDir dir;
  const auto destination = dir.path() / "launcher-package.zip";
  const std::string resumed = "CDN " + kCdnUrl + " 4 10 1024 60 from 8";
  FakeDownloader first;
  first.outcomes[kCdnUrl] = {kBody, {}, false, "\"v1\"", 8};
  const testing::LogCapture log;
  ASSERT_TRUE(DownloadVerified(Entry(false), destination, first, {}));
  EXPECT_EQ(first.calls, (Strings{"CDN " + kCdnUrl + " 4 10 1024 60", resumed}));
  EXPECT_EQ(log.Texts().at(3), "[INFO] Resuming launcher-package.zip at 8 of 22 bytes");
  EXPECT_FALSE(std::filesystem::exists(PartialRecordPath(destination)));

  FakeDownloader cancelled;
  cancelled.outcomes[kCdnUrl] = {kBody, {}, true, "\"v1\"", 8};
  EXPECT_EQ(DownloadVerified(Entry(true), destination, cancelled, {}).error(),
            DownloadFailure::Cancelled);
  EXPECT_EQ(std::filesystem::file_size(destination), 8u);
  const auto record = ReadPartialRecord(destination);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->url, kCdnUrl);
  EXPECT_EQ(record->validator, "\"v1\"");

  FakeDownloader next;
  next.outcomes[kCdnUrl] = {kBody, {}, false, "\"v1\""};
  ASSERT_TRUE(DownloadVerified(Entry(true), destination, next, {}));
  EXPECT_EQ(next.calls, Strings{resumed});
}

// Kept bytes prove nothing: a resumed file that fails verification is fetched once more from
// zero, and a record that names another package, source or validator costs the kept bytes.
TEST(VerifiedDownload, KeptBytesAreCheckedByTheDigest) {
  const struct {
    const char* what;
    std::string kept;
    std::string record;  // written beside the kept bytes
    Strings calls;
  } cases[] = {
      {"wrong kept bytes", "XXXXXXXX", kCdnUrl, {"from 8", ""}},
      {"record of another package", kBody.substr(0, 8), kVendorUrl, {""}},
      {"damaged record", kBody.substr(0, 8), "", {""}},
      {"whole file kept", kBody, kCdnUrl, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const testing::TempDir dir;
    const auto destination = dir.path() / "launcher-package.zip";
    std::ofstream(destination, std::ios::binary) << c.kept;
    if (!c.record.empty()) {
      WritePartialRecord(destination, {c.record, kBody.size(), kBodySha, "\"v1\""});
    } else {
      std::ofstream(PartialRecordPath(destination)) << "url=" << kCdnUrl << "\n";
    }
    FakeDownloader downloader;
    downloader.outcomes[kCdnUrl] = {kBody, {}, false, "\"v1\""};
    ASSERT_TRUE(DownloadVerified(Entry(false), destination, downloader, {}));
    Strings calls;
    for (const std::string& call : downloader.calls) {
      calls.push_back(call.ends_with(" from 8") ? "from 8" : "");
    }
    EXPECT_EQ(calls, c.calls);
  }
}

TEST(ArchiveSuffix, TakesTheLastSegmentWithoutQueryOrFragment) {
  EXPECT_EQ(ArchiveSuffix("https://h/x/Launcher.ZIP?token=a/b.gz"), ".zip");
  EXPECT_EQ(ArchiveSuffix("https://h/x/jre.tar.gz#part"), ".tar.gz");
  EXPECT_EQ(ArchiveSuffix("https://h/x/jre.TGZ"), ".tgz");
  EXPECT_EQ(ArchiveSuffix("https://h/x/notes.gz"), ".gz");
  EXPECT_EQ(ArchiveSuffix("https://h/x.zip/"), "");
}

static_assert(kMaxPackageBytes == archive::kMaxArchiveSize);

TEST(IsValidEntry, AcceptsOnlyWellFormedEntriesOnAllowedHosts) {
  const std::string host = kCdn.substr(8);
  std::string shouting = kCdn;
  shouting[8] = static_cast<char>(shouting[8] - 32);  // the host's first letter in upper case
  const struct {
    std::string UpdateInfo::*field;
    std::vector<std::string> valid;
    std::vector<std::string> invalid;
  } cases[] = {
      {&UpdateInfo::version, {"1.2.3-beta", "10.20.30.40"}, {"1.2", "1..3", "v1.2.3"}},
      {&UpdateInfo::url,
       {kCdn},
       {shouting, kCdn + ".evil/a", "https://x@" + host + "/a", "http://" + host + "/a"}},
      {&UpdateInfo::vendorUrl,
       {"", "https://" + std::string(allowedVendorHosts[1]) + "/j.zip"},
       {kVendor + ".evil/a"}},
      {&UpdateInfo::sha256,
       {std::string(64, 'A')},
       {kBodySha.substr(1), kBodySha + "0", std::string(63, '0') + "g"}},
  };
  for (const auto& c : cases) {
    for (const bool valid : {true, false}) {
      for (const std::string& value : valid ? c.valid : c.invalid) {
        UpdateInfo entry = Entry(true);
        entry.*c.field = value;
        EXPECT_EQ(IsValidEntry(entry), valid) << value;
      }
    }
  }
}

}  // namespace
}  // namespace kestrivon::core
