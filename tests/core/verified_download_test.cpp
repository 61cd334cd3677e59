#include "core/verified_download.h"

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/support/fake_downloader.h"
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

class VerifiedDownloadTest : public ::testing::Test {
 protected:
  std::expected<void, DownloadFailure> Run(const UpdateInfo& entry) {
    return DownloadVerified(entry, destination, downloader,
                            [this](uint64_t, uint64_t) { ++progressReports; });
  }

  testing::TempDir dir;
  std::filesystem::path destination = dir.path() / "launcher-package.zip";
  FakeDownloader downloader;
  testing::LogCapture log;
  int progressReports = 0;
};

TEST_F(VerifiedDownloadTest, CdnOnlyRetriesFourTimesWithGrowingPauses) {
  const std::string failure = "no connection (WinHTTP error 12029)";
  downloader.Script(kCdnUrl, {FakeDownloader::Fail(failure, true, "partial")});
  EXPECT_EQ(Run(Entry(false)).error(), DownloadFailure::Transfer);

  EXPECT_EQ(downloader.waits(), (std::vector<int>{1000, 3000, 5000}));
  EXPECT_FALSE(std::filesystem::exists(destination));
  Strings expected;
  for (int attempt = 1; attempt <= 4; ++attempt) {
    if (attempt > 1) {
      expected.push_back(fmt::format("[WARN] Retrying CDN download in {} ms (attempt {}/4)",
                                     downloader.waits()[static_cast<size_t>(attempt - 2)],
                                     attempt));
    }
    expected.push_back("[INFO] Downloading from CDN: " + kCdnUrl);
    expected.push_back("[WARN] Download from CDN failed: " + failure);
  }
  EXPECT_EQ(log.Texts(), expected);
}

TEST_F(VerifiedDownloadTest, VendorIsTriedOnceThenCdnWithoutPause) {
  downloader.Script(kVendorUrl, {FakeDownloader::Fail("HTTP 503", true)});
  downloader.Script(kCdnUrl, {FakeDownloader::Deliver(kBody)});
  ASSERT_TRUE(Run(Entry(true)).has_value());

  EXPECT_TRUE(downloader.waits().empty());
  EXPECT_EQ(downloader.calls(), (Strings{"vendor " + kVendorUrl + " 1 10 65536 20",
                                         "CDN " + kCdnUrl + " 4 10 1024 60"}));
  EXPECT_EQ(progressReports, 2);  // the caller's callback reaches every transfer

  EXPECT_EQ(log.Texts(), (Strings{"[INFO] Downloading from vendor: " + kVendorUrl,
                                  "[WARN] Download from vendor failed: HTTP 503",
                                  "[INFO] Falling back to the next source",
                                  "[INFO] Downloading from CDN: " + kCdnUrl,
                                  "[INFO] Downloaded and verified launcher-package.zip from CDN"}));
  EXPECT_TRUE(std::filesystem::exists(destination));
}

TEST_F(VerifiedDownloadTest, VendorFileFailingVerificationFallsBackAndEndsAsTransfer) {
  downloader.Script(kVendorUrl, {FakeDownloader::Deliver("short")});
  downloader.Script(kCdnUrl, {FakeDownloader::Fail("HTTP 404", false)});
  EXPECT_EQ(Run(Entry(true)).error(), DownloadFailure::Transfer);
  EXPECT_FALSE(std::filesystem::exists(destination));
  EXPECT_EQ(
      log.Texts(),
      (Strings{"[INFO] Downloading from vendor: " + kVendorUrl,
               "[WARN] File from vendor failed verification: size 5 != expected 22",
               "[INFO] Falling back to the next source", "[INFO] Downloading from CDN: " + kCdnUrl,
               "[WARN] Download from CDN failed: HTTP 404"}));
}

// Where the user's cancellation is seen decides the result: at the top of an attempt or in
// a pause it is Cancelled and no file is left; the downloader's own "cancelled" is an
// ordinary failure, so on the last source it stays a transfer failure.
TEST(VerifiedDownload, CancellationAtEachPoint) {
  const struct {
    const char* what;
    bool withVendor;
    std::function<void(FakeDownloader&)> arrange;
    DownloadFailure expected;
    size_t transfers;
  } cases[] = {
      {"during the second pause", false,
       [](FakeDownloader& d) {
         d.Script(kCdnUrl, {FakeDownloader::Fail("read failed", true, "partial")});
         d.CancelDuringWait(2);
       },
       DownloadFailure::Cancelled, 2},
      {"before the first attempt", true, [](FakeDownloader& d) { d.RequestCancel(); },
       DownloadFailure::Cancelled, 0},
      {"by the downloader on the vendor", true,
       [](FakeDownloader& d) {
         d.Script(kVendorUrl, {FakeDownloader::Fail("cancelled", false, "", true)});
       },
       DownloadFailure::Cancelled, 1},
      {"by the downloader on the last source", false,
       [](FakeDownloader& d) {
         d.Script(kCdnUrl, {FakeDownloader::Fail("cancelled", false, "", true)});
       },
       DownloadFailure::Transfer, 1},
      {"while the file is hashed", false,
       [](FakeDownloader& d) { d.Script(kCdnUrl, {FakeDownloader::Deliver(kBody, true)}); },
       DownloadFailure::Cancelled, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    const auto destination = dir.path() / "jre-package.zip";
    std::ofstream(destination) << "left over";
    FakeDownloader downloader;
    testing::LogCapture log;
    c.arrange(downloader);
    EXPECT_EQ(DownloadVerified(Entry(c.withVendor), destination, downloader, {}).error(),
              c.expected);
    EXPECT_EQ(downloader.calls().size(), c.transfers);
    EXPECT_FALSE(std::filesystem::exists(destination));
    for (const std::string& text : log.Texts()) EXPECT_FALSE(text.starts_with("[WARN] File from"));
  }
}

TEST(ArchiveSuffix, TakesTheLastSegmentWithoutQueryOrFragment) {
  EXPECT_EQ(ArchiveSuffix("https://h/x/Launcher.ZIP?token=a/b.gz"), ".zip");
  EXPECT_EQ(ArchiveSuffix("https://h/x/jre.tar.gz#part"), ".tar.gz");
  EXPECT_EQ(ArchiveSuffix("https://h/x/jre.TGZ"), ".tgz");
  EXPECT_EQ(ArchiveSuffix("https://h/x/notes.gz"), ".gz");
  EXPECT_EQ(ArchiveSuffix("https://h/x.zip/"), "");
}

TEST(IsValidEntry, AcceptsOnlyWellFormedEntriesOnAllowedHosts) {
  const UpdateInfo valid = Entry(true);
  EXPECT_TRUE(IsValidEntry(valid));

  struct Case {
    const char* what;
    std::function<void(UpdateInfo&)> change;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"absent", [](UpdateInfo& e) { e.present = false; }, false},
      {"version with suffix", [](UpdateInfo& e) { e.version = "1.2.3-beta"; }, true},
      {"version 10.20.30.40", [](UpdateInfo& e) { e.version = "10.20.30.40"; }, true},
      {"two numbers", [](UpdateInfo& e) { e.version = "1.2"; }, false},
      {"empty run", [](UpdateInfo& e) { e.version = "1..3"; }, false},
      {"leading letter", [](UpdateInfo& e) { e.version = "v1.2.3"; }, false},
      {"cdn host only", [](UpdateInfo& e) { e.url = kCdn; }, true},
      {"cdn upper case", [](UpdateInfo& e) { e.url[8] = static_cast<char>(e.url[8] - 32); }, false},
      {"cdn look-alike", [](UpdateInfo& e) { e.url = kCdn + ".evil/a"; }, false},
      {"user info", [](UpdateInfo& e) { e.url = "https://x@" + kCdn.substr(8) + "/a"; }, false},
      {"plain http", [](UpdateInfo& e) { e.url = "http://" + kCdn.substr(8) + "/a"; }, false},
      {"no vendor", [](UpdateInfo& e) { e.vendorUrl.clear(); }, true},
      {"second vendor",
       [](UpdateInfo& e) {
         e.vendorUrl = "https://" + std::string(allowedVendorHosts[1]) + "/j.zip";
       },
       true},
      {"vendor look-alike", [](UpdateInfo& e) { e.vendorUrl = kVendor + ".evil/a"; }, false},
      {"63 digits", [](UpdateInfo& e) { e.sha256.pop_back(); }, false},
      {"65 digits", [](UpdateInfo& e) { e.sha256 += "0"; }, false},
      {"non-hex digit", [](UpdateInfo& e) { e.sha256[10] = 'g'; }, false},
      {"upper-case digest", [](UpdateInfo& e) { e.sha256 = std::string(64, 'A'); }, true},
      {"size 0", [](UpdateInfo& e) { e.size = 0; }, false},
  };
  for (const Case& c : cases) {
    UpdateInfo entry = valid;
    c.change(entry);
    EXPECT_EQ(IsValidEntry(entry), c.valid) << c.what;
  }
}

}  // namespace
}  // namespace kestrivon::core
