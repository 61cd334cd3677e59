#include "core/update_run.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/file_digest.h"
#include "core/installed_versions.h"
#include "core/verified_download.h"
#include "tests/support/fake_host.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

namespace fs = std::filesystem;
using testing::FakeDownloader;
using testing::FakeHost;
using Stages = std::vector<FakeHost::StageCall>;
constexpr auto none = std::nullopt;

struct Package {
  std::string body;
  UpdateInfo entry;
};

Package MakePackage(const std::string& name, const std::string& version) {
  Package package;
  package.body = "bytes of " + name + " " + version;
  Sha256 hasher;
  hasher.Update(reinterpret_cast<const uint8_t*>(package.body.data()), package.body.size());
  package.entry.present = true;
  package.entry.version = version;
  package.entry.url =
      "https://" + std::string(cdnHost) + "/" + name + "/" + name + "-" + version + ".zip";
  package.entry.sha256 = ToHex(hasher);
  package.entry.size = package.body.size();
  return package;
}

nlohmann::json EntryJson(const UpdateInfo& entry) {
  return {{"version", entry.version},
          {"url", entry.url},
          {"sha256", entry.sha256},
          {"size", entry.size}};
}

class UpdateRunTest : public ::testing::Test {
 protected:
  UpdateRunTest() { ServePackages(host); }

  void ServePackages(FakeHost& target) {
    for (const Package* package : {&launcher, &jre, &updater}) {
      target.downloader.Script(package->entry.url, {FakeDownloader::Deliver(package->body)});
    }
  }

  // A second run on the same install folder, with the same manifest and packages.
  FakeHost& NextRun() {
    FakeHost& next = moreRuns.emplace_back(root);
    next.manifestTexts = host.manifestTexts;
    ServePackages(next);
    return next;
  }

  // A manifest naming the given packages (the updater only when asked).
  void PublishManifest(bool withJre = true, bool withUpdater = false) {
    nlohmann::json win = {{"launcher", EntryJson(launcher.entry)}};
    if (withJre) win["jre"] = EntryJson(jre.entry);
    if (withUpdater) win["updater"] = EntryJson(updater.entry);
    host.manifestTexts = {nlohmann::json{{"win", win}}.dump()};
  }

  void Record(const std::string& launcherVersion, const std::string& launcherSha,
              const std::string& jreVersion, const std::string& jreSha,
              const std::string& updaterSha = {}) {
    ASSERT_TRUE(WriteInstalledVersions(
        root, {{launcherVersion, launcherSha}, {jreVersion, jreSha}, updaterSha}));
  }

  bool HasLine(const std::string& text) const {
    const auto texts = log.Texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }

  testing::TempDir dir;
  fs::path root = dir.path() / "Kestrivon";
  Package launcher = MakePackage("launcher", "1.1.0");
  Package jre = MakePackage("jre", "21.0.2");
  Package updater = MakePackage("updater", "1.0.1");
  FakeHost host{root};
  std::deque<FakeHost> moreRuns;
  testing::LogCapture log;
};

TEST_F(UpdateRunTest, TypicalRoadUpdatesTheOutdatedLauncher) {
  PublishManifest();
  Record("1.0.0", std::string(64, 'a'), "21.0.2", jre.entry.sha256);
  fs::create_directories(root / "temp" / "left-over");
  std::ofstream(root / "temp" / "left-over" / "old.zip") << "x";

  EXPECT_EQ(RunUpdate(host), RunResult::Ready);

  EXPECT_EQ(host.stages, (Stages{{Stage::Preparing, none, 0},
                                 {Stage::CheckingForUpdates, none, 10},
                                 {Stage::UpdateDataReceived, none, 15},
                                 {Stage::CheckingComponents, none, 20},
                                 {Stage::UpdatingComponents, none, 15},
                                 {Stage::DownloadingComponent, Component::Launcher, 15},
                                 {Stage::InstallingComponent, Component::Launcher, 43},
                                 {Stage::ComponentsDone, none, 95},
                                 {Stage::RemovingTemporaryFiles, none, 96}}));
  ASSERT_EQ(host.componentQuestions.size(), 1u);
  ASSERT_EQ(host.componentQuestions[0].size(), 1u);
  EXPECT_EQ(host.componentQuestions[0][0].installedVersion, "1.0.0");
  EXPECT_EQ(host.progressCalls,
            (std::vector<FakeHost::ProgressCall>{{Component::Launcher, 15, 28}}));
  ASSERT_EQ(host.installs.size(), 1u);
  EXPECT_EQ(host.installs[0].archive, root / "temp" / "launcher-package.zip");
  EXPECT_EQ(host.installs[0].archiveContent, launcher.body);  // the verified file
  EXPECT_EQ(std::pair(host.installs[0].base, host.installs[0].span), std::pair(43, 12));

  const InstalledVersions record = ReadInstalledVersions(root);
  EXPECT_EQ(record.launcher.version, "1.1.0");
  EXPECT_EQ(record.launcher.sha256, launcher.entry.sha256);
  EXPECT_EQ(record.jre.sha256, jre.entry.sha256);
  EXPECT_TRUE(fs::is_empty(root / "temp"));  // left-overs and the archive are gone

  EXPECT_TRUE(HasLine("[INFO] Updater is up to date (package sha256 none)"));
  EXPECT_TRUE(HasLine("[INFO] Launcher: 1.0.0 (sha256 aaaaaaaa...) -> 1.1.0 (sha256 " +
                      launcher.entry.sha256.substr(0, 8) + "...): update needed"));
  EXPECT_TRUE(HasLine("[INFO] JRE: 21.0.2 -> up to date"));
  EXPECT_TRUE(HasLine("[INFO] Launcher 1.1.0 installed"));
}

TEST_F(UpdateRunTest, WithoutManifestTheInstalledCopiesAreUsed) {
  EXPECT_EQ(RunUpdate(host), RunResult::Ready);
  EXPECT_EQ(host.manifestFetches, 4);
  EXPECT_EQ(host.stages, (Stages{{Stage::Preparing, none, 0},
                                 {Stage::CheckingForUpdates, none, 10},
                                 {Stage::ManifestUnavailable, none, 15},
                                 {Stage::CheckingComponents, none, 20},
                                 {Stage::NoUpdatesRequired, none, 95},
                                 {Stage::RemovingTemporaryFiles, none, 96}}));
  EXPECT_TRUE(host.componentQuestions.empty());
  EXPECT_TRUE(host.updaterQuestions.empty());
  EXPECT_TRUE(
      HasLine("[INFO] Launcher: none, no usable manifest entry -> using the installed copy"));
  EXPECT_TRUE(HasLine("[INFO] JRE: none, no usable manifest entry -> using the installed copy"));
}

// A component that has neither a usable manifest entry nor an installed copy ends the run.
TEST_F(UpdateRunTest, NoEntryAndNothingInstalledEndsTheRun) {
  host.launcherOnDisk = false;  // no manifest at all
  EXPECT_EQ(RunUpdate(host), RunResult::Failed);
  EXPECT_EQ(host.installedQueries, (std::vector<Component>{Component::Launcher}));
  EXPECT_EQ(log.Texts().back(), "[ERROR] Launcher: no usable manifest entry and not installed");

  FakeHost& noJre = NextRun();
  noJre.manifestTexts = {std::string(R"({"win":{"launcher":)") + EntryJson(launcher.entry).dump() +
                         "}}"};
  Record("1.1.0", launcher.entry.sha256, "", "");
  noJre.jreOnDisk = false;
  EXPECT_EQ(RunUpdate(noJre), RunResult::Failed);
  EXPECT_EQ(log.Texts().back(), "[ERROR] JRE: no usable manifest entry and not installed");
  using Failures = std::vector<FakeHost::FailureCall>;
  EXPECT_EQ(host.failures, (Failures{{Failure::ManifestUnavailable, Component::Launcher}}));
  EXPECT_EQ(noJre.failures, (Failures{{Failure::ManifestUnavailable, Component::Jre}}));
  EXPECT_EQ(host.stages.back().stage, Stage::CheckingComponents);
}

TEST_F(UpdateRunTest, CurrentComponentsSkipThePrompt) {
  PublishManifest();
  std::string upper = launcher.entry.sha256;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Record("0.9.0", upper, "21.0.2", jre.entry.sha256);  // versions are never compared

  EXPECT_EQ(RunUpdate(host), RunResult::Ready);
  EXPECT_TRUE(host.componentQuestions.empty());
  EXPECT_TRUE(host.downloader.calls().empty());
  EXPECT_EQ(host.stages.at(4), (FakeHost::StageCall{Stage::NoUpdatesRequired, none, 95}));
}

TEST_F(UpdateRunTest, OnlyTheRuntimeOutdatedUsesItsSliceOfTheBar) {
  PublishManifest();
  Record("1.1.0", launcher.entry.sha256, "21.0.2", "");  // recorded version, no digest
  EXPECT_EQ(RunUpdate(host), RunResult::Ready);
  ASSERT_EQ(host.componentQuestions.size(), 1u);
  EXPECT_EQ(host.componentQuestions[0][0].component, Component::Jre);
  EXPECT_EQ(host.stages[4], (FakeHost::StageCall{Stage::UpdatingComponents, none, 55}));
  EXPECT_EQ(host.progressCalls, (std::vector<FakeHost::ProgressCall>{{Component::Jre, 55, 28}}));
  EXPECT_EQ(host.installs.at(0).archive, root / "temp" / "jre-package.zip");
  EXPECT_EQ(host.installs[0].base, 83);
  EXPECT_TRUE(HasLine("[INFO] JRE: 21.0.2 (sha256 none) -> 21.0.2 (sha256 " +
                      jre.entry.sha256.substr(0, 8) + "...): update needed"));
}

TEST_F(UpdateRunTest, AFailedRuntimeInstallKeepsTheNewLauncherRecord) {
  PublishManifest();
  Record("1.0.0", std::string(64, 'b'), "17.0.1", std::string(64, 'c'), "dd");
  host.install = [](Component component) -> std::expected<void, std::string> {
    if (component == Component::Jre) return std::unexpected(std::string("disk full"));
    return {};
  };
  EXPECT_EQ(RunUpdate(host), RunResult::Failed);

  ASSERT_EQ(host.componentQuestions.at(0).size(), 2u);  // one question, launcher first
  EXPECT_EQ(host.componentQuestions[0][0].component, Component::Launcher);
  EXPECT_EQ(host.componentQuestions[0][1].installedVersion, "17.0.1");
  EXPECT_EQ(host.failures,
            (std::vector<FakeHost::FailureCall>{{Failure::InstallFailed, Component::Jre}}));
  EXPECT_EQ(host.stages.back(), (FakeHost::StageCall{Stage::ComponentsDone, none, 55}));
  EXPECT_TRUE(HasLine("[ERROR] Installing JRE failed: disk full"));
  const InstalledVersions record = ReadInstalledVersions(root);
  EXPECT_EQ(record.launcher.sha256, launcher.entry.sha256);
  EXPECT_EQ(record.jre.version, "17.0.1");
  EXPECT_EQ(record.jre.sha256, std::string(64, 'c'));
  EXPECT_EQ(record.updaterArchiveSha256, "dd");
  EXPECT_TRUE(fs::exists(root / "temp" / "jre-package.zip"));  // next run's clean-up takes it
}

TEST_F(UpdateRunTest, DownloadAndVerificationFailuresAreShownByKind) {
  PublishManifest();
  host.launcherOnDisk = false;
  host.downloader.Script(launcher.entry.url, {FakeDownloader::Fail("HTTP 404", false)});
  EXPECT_EQ(RunUpdate(host), RunResult::Failed);
  EXPECT_EQ(host.failures,
            (std::vector<FakeHost::FailureCall>{{Failure::DownloadFailed, Component::Launcher}}));
  EXPECT_EQ(host.stages.back(), (FakeHost::StageCall{Stage::ComponentsDone, none, 15}));
  EXPECT_TRUE(host.installs.empty());

  FakeHost& second = NextRun();
  second.jreOnDisk = false;
  second.downloader.Script(jre.entry.url, {FakeDownloader::Deliver("tampered")});
  EXPECT_EQ(RunUpdate(second), RunResult::Failed);
  EXPECT_EQ(second.failures,
            (std::vector<FakeHost::FailureCall>{{Failure::VerificationFailed, Component::Jre}}));
}

TEST_F(UpdateRunTest, DecliningTheComponentsDownloadsNothing) {
  PublishManifest();
  host.acceptComponents = false;
  EXPECT_EQ(RunUpdate(host), RunResult::Cancelled);
  EXPECT_TRUE(host.downloader.calls().empty());
  EXPECT_EQ(log.Texts().back(), "[INFO] The user declined the component updates");
}

TEST_F(UpdateRunTest, CancellationIsObservedWhereItIsChecked) {
  // Right after the manifest fetch: the updater and the components are not looked at.
  PublishManifest(true, true);
  host.onEvent = [this](const std::string& event) {
    if (event == "FetchManifestText") host.downloader.RequestCancel();
  };
  EXPECT_EQ(RunUpdate(host), RunResult::Cancelled);
  EXPECT_TRUE(host.updaterQuestions.empty());
  EXPECT_TRUE(host.installedQueries.empty());

  // An installation that fails after the request is not a failure for the user.
  FakeHost& installing = NextRun();
  installing.jreOnDisk = false;
  installing.install = [&installing](Component) -> std::expected<void, std::string> {
    installing.downloader.RequestCancel();
    return std::unexpected(std::string("cancelled"));
  };
  installing.acceptUpdater = true;
  Record("", "", "", "", updater.entry.sha256);
  EXPECT_EQ(RunUpdate(installing), RunResult::Cancelled);
  EXPECT_TRUE(installing.failures.empty());
  EXPECT_FALSE(HasLine("[ERROR] Installing JRE failed: cancelled"));

  // A request that arrives during the last installation still turns Ready into Cancelled.
  FakeHost& late = NextRun();
  late.jreOnDisk = false;
  late.install = [&late](Component component) -> std::expected<void, std::string> {
    if (component == Component::Jre) late.downloader.RequestCancel();
    return {};
  };
  EXPECT_EQ(RunUpdate(late), RunResult::Cancelled);
  EXPECT_EQ(late.stages.back().stage, Stage::RemovingTemporaryFiles);
}

TEST_F(UpdateRunTest, SelfUpdateRestartsWithTheNewDigestRecorded) {
  PublishManifest(true, true);
  host.applyUpdater = true;
  EXPECT_EQ(RunUpdate(host), RunResult::Restarted);

  EXPECT_EQ(host.stages, (Stages{{Stage::Preparing, none, 0},
                                 {Stage::CheckingForUpdates, none, 10},
                                 {Stage::DownloadingUpdater, none, 10},
                                 {Stage::ApplyingUpdaterUpdate, none, 95}}));
  EXPECT_EQ(host.progressCalls, (std::vector<FakeHost::ProgressCall>{{none, 10, 70}}));
  ASSERT_EQ(host.appliedPackages.size(), 1u);
  EXPECT_EQ(host.appliedPackages[0], root / "temp" / "updater-package.zip");
  EXPECT_NE(host.recordAtApply[0].find(updater.entry.sha256), std::string::npos);
  EXPECT_EQ(ReadInstalledVersions(root).updaterArchiveSha256, updater.entry.sha256);
  EXPECT_TRUE(host.installedQueries.empty());
  EXPECT_TRUE(HasLine("[INFO] Updater update available: 1.0.1 (package sha256 none -> " +
                      updater.entry.sha256.substr(0, 8) + "...)"));
}

TEST_F(UpdateRunTest, AFailedSelfUpdateRestoresTheDigestAndGoesOn) {
  PublishManifest(true, true);
  Record("1.1.0", launcher.entry.sha256, "21.0.2", jre.entry.sha256, "EE");
  host.applyUpdater = false;
  EXPECT_EQ(RunUpdate(host), RunResult::Ready);
  EXPECT_EQ(ReadInstalledVersions(root).updaterArchiveSha256, "EE");
  EXPECT_TRUE(
      HasLine("[WARN] Couldn't apply the updater update; continuing with the current version"));
  EXPECT_EQ(host.stages[3], (FakeHost::StageCall{Stage::ApplyingUpdaterUpdate, none, 95}));
  EXPECT_EQ(host.stages[4], (FakeHost::StageCall{Stage::UpdateDataReceived, none, 15}));

  FakeHost& unreachable = NextRun();
  unreachable.downloader.Script(updater.entry.url, {FakeDownloader::Fail("HTTP 403", false)});
  EXPECT_EQ(RunUpdate(unreachable), RunResult::Ready);
  EXPECT_TRUE(unreachable.appliedPackages.empty());
  EXPECT_TRUE(
      HasLine("[WARN] Couldn't get the updater update; continuing with the current version"));

  // Unrecorded, the new updater would take itself for outdated and replace itself forever.
  fs::create_directories(root / "config" / "versions.json.tmp");
  FakeHost& unrecorded = NextRun();
  unrecorded.applyUpdater = true;
  EXPECT_EQ(RunUpdate(unrecorded), RunResult::Ready);
  EXPECT_TRUE(unrecorded.appliedPackages.empty());
}

TEST_F(UpdateRunTest, DecliningTheUpdaterEndsTheRun) {
  PublishManifest(true, true);
  host.acceptUpdater = false;
  EXPECT_EQ(RunUpdate(host), RunResult::Cancelled);
  EXPECT_TRUE(host.installedQueries.empty());
  EXPECT_EQ(log.Texts().back(), "[INFO] The user declined the updater update");

  // A recorded digest in another letter case counts as applied.
  std::string upper = updater.entry.sha256;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Record(launcher.entry.version, launcher.entry.sha256, jre.entry.version, jre.entry.sha256, upper);
  FakeHost& current = NextRun();
  current.acceptUpdater = false;
  EXPECT_EQ(RunUpdate(current), RunResult::Ready);
  EXPECT_TRUE(current.updaterQuestions.empty());
}

}  // namespace
}  // namespace kestrivon::core
