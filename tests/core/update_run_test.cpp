#include "core/update_run.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/content_hosts.h"
#include "core/file_digest.h"
#include "core/installed_versions.h"
#include "core/partial_download.h"
#include "core/serial_record.h"
#include "tests/support/fake_host.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

namespace fs = std::filesystem;
using testing::FakeHost;
using Strings = std::vector<std::string>;

std::string Sha(const std::string& text) {
  Sha256 hasher;
  hasher.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return ToHex(hasher);
}

struct Package {
  Package(const std::string& name, const std::string& version)
      : body("bytes of " + name + " " + version),
        entry{true, version,   "https://" + std::string(cdnHost) + "/" + name + ".zip",
              {},   Sha(body), body.size()} {}
  std::string Short() const { return entry.sha256.substr(0, 8) + "..."; }
  nlohmann::json Json() const {
    return {{"version", entry.version},
            {"url", entry.url},
            {"sha256", entry.sha256},
            {"size", entry.size}};
  }

  std::string body;
  UpdateInfo entry;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

Strings Tail(const FakeHost& host, size_t count) {
  return Strings(host.calls.end() - static_cast<std::ptrdiff_t>(count), host.calls.end());
}

// Accepts as the signature of a message by a key: the message's SHA-256, then the key's first
// 32 bytes. The real curve arithmetic is the verifiers' own tests' business.
EcSignature FakeSignature(const EcPoint& key, std::string_view message) {
  Sha256 hasher;
  hasher.Update(reinterpret_cast<const uint8_t*>(message.data()), message.size());
  const auto digest = hasher.Finish();
  EcSignature signature{};
  std::copy(digest.begin(), digest.end(), signature.begin());
  std::copy(key.begin(), key.begin() + 32, signature.begin() + 32);
  return signature;
}

class FakeVerifier final : public SignatureVerifier {
 public:
  bool Verify(const EcPoint& key, std::string_view message,
              const EcSignature& signature) const override {
    return FakeSignature(key, message) == signature;
  }
};

class UpdateRunTest : public ::testing::Test {
 protected:
  UpdateRunTest() {
    for (const Package* package : {&launcher, &jre, &updater}) {
      host.downloader.outcomes[package->entry.url] = {package->body};
    }
  }

  // A further run on the same install folder, with the same manifest and packages.
  FakeHost& NextRun() {
    FakeHost& next = moreRuns.emplace_back(root);
    next.manifestTexts = host.manifestTexts;
    next.downloader.outcomes = host.downloader.outcomes;
    return next;
  }

  void PublishManifest(bool withJre = true, bool withUpdater = false) {
    nlohmann::json win = {{"launcher", launcher.Json()}};
    if (withJre) win["jre"] = jre.Json();
    if (withUpdater) win["updater"] = updater.Json();
    host.manifestTexts = {nlohmann::json{{"win", win}}.dump()};
  }

  // The current manifest with `serial`, and a signature file with a line per key.
  std::string SignedManifest(FakeHost& run, uint64_t serial, const std::vector<EcPoint>& keys) {
    PublishManifest();
    auto document = nlohmann::json::parse(*host.manifestTexts.front());
    document["serial"] = serial;
    const std::string text = document.dump();
    std::vector<SignatureLine> lines;
    for (const EcPoint& key : keys) lines.push_back({KeyId(key), FakeSignature(key, text)});
    run.manifestTexts = {text};
    run.signatureTexts = {FormatSignatureFile(lines)};
    run.trust = {builtIn, &verifier};
    return text;
  }

  void Record(const InstalledVersions& record) {
    ASSERT_TRUE(WriteInstalledVersions(root, record));
  }
  std::string Recorded() { return SerializeInstalledVersions(ReadInstalledVersions(root)); }

  bool HasLine(const std::string& text) const { return std::ranges::count(log.Texts(), text); }

  testing::TempDir dir;
  fs::path root = dir.path() / "Kestrivon";
  Package launcher{"launcher", "1.1.0"};
  Package jre{"jre", "21.0.2"};
  Package updater{"updater", "1.0.1"};
  FakeHost host{root};
  std::deque<FakeHost> moreRuns;
  const EcPoint oldKey = EcPoint{1};
  const EcPoint newKey = EcPoint{2};
  const std::vector<EcPoint> builtIn = {newKey};
  const FakeVerifier verifier;
  testing::LogCapture log;
};

TEST_F(UpdateRunTest, TypicalRoadUpdatesTheOutdatedLauncher) {
  PublishManifest();
  // Versions are never compared; digests in any letter case.
  const InstalledComponent currentJre{"21.0.1", Upper(jre.entry.sha256)};
  Record({{"1.0.0", std::string(64, 'a')}, currentJre, {}});

  EXPECT_EQ(RunUpdate(host), RunResult::Ready);
  EXPECT_EQ(host.calls,
            (Strings{"Preparing 0", "CheckingForUpdates 10", "fetch", "UpdateDataReceived 15",
                     "CheckingComponents 20", "installed? Launcher", "installed? JRE",
                     "confirm Launcher 1.0.0", "UpdatingComponents 15",
                     "DownloadingComponent Launcher 15", "progress Launcher 15+28",
                     "InstallingComponent Launcher 43",
                     "install Launcher temp/launcher-package.zip 43+12: " + launcher.body,
                     "ComponentsDone 95", "RemovingTemporaryFiles 96"}));
  EXPECT_EQ(Recorded(),
            SerializeInstalledVersions({{"1.1.0", launcher.entry.sha256}, currentJre, {}}));
  EXPECT_TRUE(fs::is_empty(root / "temp"));  // the archive is gone
  EXPECT_EQ(log.Texts(), (Strings{"[WARN] Manifest signatures are not checked by this build",
                                  "[INFO] Updater is up to date (package sha256 none)",
                                  "[INFO] Launcher: 1.0.0 (sha256 aaaaaaaa...) -> 1.1.0 (sha256 " +
                                      launcher.Short() + "): update needed",
                                  "[INFO] JRE: 21.0.1 -> up to date",
                                  "[INFO] Downloading from CDN: " + launcher.entry.url,
                                  "[INFO] Downloaded and verified launcher-package.zip from CDN",
                                  "[INFO] Launcher 1.1.0 installed"}));
}

// Failed and invalid manifests are fetched again after pauses. Without a usable entry the
// installed copy is used; without one either, the run ends, yet cleans up at its start.
TEST_F(UpdateRunTest, WithoutEntriesTheInstalledCopiesAreUsedOrTheRunEnds) {
  host.manifestTexts = {std::unexpected(std::string("HTTP 503")), std::string(),
                        std::string(R"({"win":{"launcher":{}}})")};
  EXPECT_EQ(RunUpdate(host), RunResult::Ready);
  EXPECT_EQ(host.calls,
            (Strings{"Preparing 0", "CheckingForUpdates 10", "fetch", "fetch", "fetch", "fetch",
                     "ManifestUnavailable 15", "CheckingComponents 20", "installed? Launcher",
                     "installed? JRE", "NoUpdatesRequired 95", "RemovingTemporaryFiles 96"}));
  EXPECT_EQ(host.downloader.waits, (std::vector<int>{500, 1500, 3000}));
  const std::string invalid = "[WARN] Invalid manifest (attempt ";
  EXPECT_EQ(log.Texts(),
            (Strings{"[WARN] Manifest signatures are not checked by this build",
                     "[WARN] Manifest download failed (attempt 1/4): HTTP 503",
                     invalid + "2/4): empty document",
                     invalid + "3/4): launcher entry is missing or invalid",
                     invalid + "4/4): launcher entry is missing or invalid",
                     "[ERROR] Manifest unavailable after 4 attempts",
                     "[INFO] Launcher: none, no usable manifest entry -> using the installed copy",
                     "[INFO] JRE: none, no usable manifest entry -> using the installed copy"}));

  // The launcher without any manifest, then the runtime without its manifest entry.
  for (const std::string name : {"Launcher", "JRE"}) {
    if (name == "JRE") PublishManifest(false);
    FakeHost& run = NextRun();
    run.launcherOnDisk = name != "Launcher";
    run.jreOnDisk = name != "JRE";
    fs::create_directories(root / "temp" / "left-over");
    EXPECT_EQ(RunUpdate(run), RunResult::Failed);
    EXPECT_TRUE(fs::is_empty(root / "temp"));
    EXPECT_EQ(Tail(run, 2), (Strings{"installed? " + name, "failure ManifestUnavailable " + name}));
    EXPECT_EQ(log.Texts().back(),
              "[ERROR] " + name + ": no usable manifest entry and not installed");
  }
}

TEST_F(UpdateRunTest, FailuresAreShownByKindAndEarlierInstallsStayRecorded) {
  PublishManifest();
  const InstalledVersions old{
      {"1.0.0", std::string(64, 'b')}, {"17.0.1", std::string(64, 'c')}, "dd"};
  Record(old);
  host.installErrors[Component::Jre] = "disk full";
  EXPECT_EQ(RunUpdate(host), RunResult::Failed);
  EXPECT_EQ(host.calls.at(7), "confirm Launcher 1.0.0, JRE 17.0.1");
  EXPECT_EQ(Tail(host, 6), (Strings{"DownloadingComponent JRE 55", "progress JRE 55+28",
                                    "InstallingComponent JRE 83",
                                    "install JRE temp/jre-package.zip 83+12: " + jre.body,
                                    "ComponentsDone 55", "failure InstallFailed JRE"}));
  EXPECT_EQ(log.Texts().back(), "[ERROR] Installing JRE failed: disk full");
  EXPECT_EQ(Recorded(),
            SerializeInstalledVersions({{"1.1.0", launcher.entry.sha256}, old.jre, "dd"}));

  // Recorded as current, but gone from the disk: downloaded again.
  Record({{"1.1.0", launcher.entry.sha256}, {"21.0.2", jre.entry.sha256}, {}});
  FakeHost& lost = NextRun();
  lost.launcherOnDisk = false;
  lost.downloader.outcomes.erase(launcher.entry.url);  // fails for good
  EXPECT_EQ(RunUpdate(lost), RunResult::Failed);
  EXPECT_EQ(Tail(lost, 2), (Strings{"ComponentsDone 15", "failure DownloadFailed Launcher"}));

  FakeHost& tampered = NextRun();
  tampered.jreOnDisk = false;
  const std::string changed = "BYTES of jre 21.0.2";
  tampered.downloader.outcomes[jre.entry.url] = {changed};
  EXPECT_EQ(RunUpdate(tampered), RunResult::Failed);
  EXPECT_EQ(Tail(tampered, 2), (Strings{"ComponentsDone 55", "failure VerificationFailed JRE"}));
  EXPECT_EQ(tampered.downloader.calls.size(), 1u);  // a file failing verification is final
  EXPECT_EQ(log.Texts().back(), "[WARN] File from CDN failed verification: sha256 " + Sha(changed) +
                                    " != expected " + jre.entry.sha256);
}

// A delta from the installed package is tried first; whatever goes wrong with it, the full
// package follows in the same run, and either way the record names the full package.
TEST_F(UpdateRunTest, ADeltaFromTheInstalledPackageOrElseTheFullOne) {
  const InstalledComponent oldJre{"21.0.1", std::string(64, 'c')};
  const std::string deltaBody = "delta of jre 21.0.1 to 21.0.2";
  const std::string deltaUrl = "https://" + std::string(cdnHost) + "/jre-delta.zip";
  const auto publish = [&](FakeHost& run, const std::string& from, const std::string& format) {
    nlohmann::json jreJson = jre.Json();
    jreJson["deltas"] = {{{"fromSha256", from},
                          {"url", deltaUrl},
                          {"size", deltaBody.size()},
                          {"sha256", Sha(deltaBody)},
                          {"format", format}}};
    run.manifestTexts = {
        nlohmann::json{{"win", {{"launcher", launcher.Json()}, {"jre", jreJson}}}}.dump()};
  };
  const std::string fromDelta = "install delta JRE temp/jre-delta.zip 83+12: " + deltaBody;
  const std::string fromPackage = "install JRE temp/jre-package.zip 83+12: " + jre.body;
  const std::string installedSha = oldJre.sha256;
  const std::string served = deltaBody;
  const std::string notHad = "[WARN] JRE: the delta could not be had; downloading the full package";
  struct Case {
    const char* name;
    std::string from;
    std::string format;
    std::optional<std::string> deltaServed;
    std::optional<std::string> applyError;
    Strings installs;
    std::string warning;
  };
  const Case cases[] = {
      {"applies", installedSha, "zstd-files-1", served, {}, {fromDelta}, ""},
      {"from another package", std::string(64, 'e'), "zstd-files-1", served, {}, {fromPackage}, ""},
      {"a format this host can't use", installedSha, "bsdiff", served, {}, {fromPackage}, ""},
      {"not served", installedSha, "zstd-files-1", {}, {}, {fromPackage}, notHad},
      {"tampered", installedSha, "zstd-files-1", "DELTA of jre", {}, {fromPackage}, notHad},
      {"does not apply",
       installedSha,
       "zstd-files-1",
       served,
       "installed lib/modules is not the version the delta was made from",
       {fromDelta, fromPackage},
       "[WARN] JRE: the delta did not apply (installed lib/modules is not the version the delta "
       "was made from); downloading the full package"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Record({{"1.1.0", launcher.entry.sha256}, oldJre, {}});
    FakeHost& run = NextRun();
    publish(run, c.from, c.format);
    run.deltaFormat = "zstd-files-1";
    if (c.deltaServed) run.downloader.outcomes[deltaUrl] = {*c.deltaServed};
    if (c.applyError) run.deltaErrors[Component::Jre] = *c.applyError;
    EXPECT_EQ(RunUpdate(run), RunResult::Ready);
    Strings installs;
    std::ranges::copy_if(run.calls, std::back_inserter(installs),
                         [](const std::string& call) { return call.starts_with("install "); });
    EXPECT_EQ(installs, c.installs);
    EXPECT_EQ(ReadInstalledVersions(root).jre.sha256, jre.entry.sha256);
    EXPECT_TRUE(fs::is_empty(root / "temp"));
    EXPECT_TRUE(c.warning.empty() || HasLine(c.warning)) << c.warning;
  }
}

TEST_F(UpdateRunTest, CancellationIsObservedWhereItIsChecked) {
  // In the manifest fetch's second pause, or before its first attempt: nothing else is done.
  for (const int wait : {2, 0}) {
    FakeHost& run = NextRun();
    run.downloader.cancelDuringWait = wait;
    run.downloader.cancelled = wait == 0;
    EXPECT_EQ(RunUpdate(run), RunResult::Cancelled);
    EXPECT_EQ(run.calls.size(), 2u + wait);
    EXPECT_EQ(std::ranges::count(run.calls, "fetch"), wait);
  }

  // During the last installation: an installation failing on it is no failure for the user,
  // and one that succeeds still turns Ready into Cancelled.
  PublishManifest();
  Record({{"1.1.0", launcher.entry.sha256}, {"21.0.2", ""}, {}});
  for (const bool installFails : {true, false}) {
    FakeHost& run = NextRun();
    run.jreOnDisk = false;
    run.cancelAt = "install JRE";
    if (installFails) run.installErrors[Component::Jre] = "";
    EXPECT_EQ(RunUpdate(run), RunResult::Cancelled);
    EXPECT_EQ(run.calls.at(8), "UpdatingComponents 55");  // only the runtime's slice of the bar
    EXPECT_EQ(run.calls.back(), installFails ? "ComponentsDone 55" : "RemovingTemporaryFiles 96");
  }
  EXPECT_FALSE(HasLine("[ERROR] Manifest unavailable after 4 attempts"));
  EXPECT_FALSE(HasLine("[ERROR] Installing JRE failed: "));
}

// Declining either question ends the run as cancelled; the self-update restarts with the new
// digest recorded, and a self-update that fails leaves the run to go on.
TEST_F(UpdateRunTest, SelfUpdateAndTheQuestions) {
  PublishManifest(true, true);
  host.acceptUpdater = false;
  EXPECT_EQ(RunUpdate(host), RunResult::Cancelled);
  EXPECT_EQ(host.calls.back(), "confirm updater 1.0.1");
  EXPECT_EQ(log.Texts().back(), "[INFO] The user declined the updater update");

  FakeHost& restarted = NextRun();
  restarted.applyUpdater = true;
  EXPECT_EQ(RunUpdate(restarted), RunResult::Restarted);
  EXPECT_EQ(restarted.calls,
            (Strings{"Preparing 0", "CheckingForUpdates 10", "fetch", "confirm updater 1.0.1",
                     "DownloadingUpdater 10", "progress updater 10+70", "ApplyingUpdaterUpdate 95",
                     "apply temp/updater-package.zip, recorded " + updater.entry.sha256}));
  EXPECT_TRUE(HasLine("[INFO] Updater update available: 1.0.1 (package sha256 none -> " +
                      updater.Short() + ")"));

  // A recorded digest in another letter case counts as applied.
  Record({{}, {}, Upper(updater.entry.sha256)});
  FakeHost& components = NextRun();
  components.acceptComponents = false;
  EXPECT_EQ(RunUpdate(components), RunResult::Cancelled);
  EXPECT_EQ(components.calls.at(3), "UpdateDataReceived 15");
  EXPECT_TRUE(components.downloader.calls.empty());
  EXPECT_EQ(log.Texts().back(), "[INFO] The user declined the component updates");

  Record({{"1.1.0", launcher.entry.sha256}, {"21.0.2", jre.entry.sha256}, "EE"});
  FakeHost& notApplied = NextRun();
  EXPECT_EQ(RunUpdate(notApplied), RunResult::Ready);
  EXPECT_EQ(ReadInstalledVersions(root).updaterArchiveSha256, "EE");
  EXPECT_EQ(notApplied.calls.at(8), "UpdateDataReceived 15");
  EXPECT_TRUE(
      HasLine("[WARN] Couldn't apply the updater update; continuing with the current version"));

  FakeHost& unreachable = NextRun();
  unreachable.downloader.outcomes.erase(updater.entry.url);
  EXPECT_EQ(RunUpdate(unreachable), RunResult::Ready);
  EXPECT_EQ(unreachable.calls.at(6), "UpdateDataReceived 15");
  EXPECT_TRUE(
      HasLine("[WARN] Couldn't get the updater update; continuing with the current version"));

  // Unrecorded, the new updater would take itself for outdated and replace itself forever.
  fs::create_directories(root / "config" / "versions.json.tmp");
  FakeHost& unrecorded = NextRun();
  unrecorded.applyUpdater = true;
  EXPECT_EQ(RunUpdate(unrecorded), RunResult::Ready);
  EXPECT_EQ(unrecorded.calls.at(7), "UpdateDataReceived 15");
}

// With keys built in, a manifest counts only with a good signature by one of them and a serial
// no older than one accepted before; any refusal takes the road of an unavailable manifest.
TEST_F(UpdateRunTest, SignedManifestsAreCheckedBeforeUseAndNeverRolledBack) {
  Record({{"1.1.0", launcher.entry.sha256}, {"21.0.2", jre.entry.sha256}, {}});
  SignedManifest(host, 5, {oldKey, newKey});  // signed during a key rotation
  EXPECT_EQ(RunUpdate(host), RunResult::Ready);
  EXPECT_EQ(host.calls.at(3), "fetch signature");
  EXPECT_EQ(host.calls.at(4), "UpdateDataReceived 15");
  EXPECT_TRUE(HasLine("[INFO] Manifest signature verified (key " + KeyId(newKey) + "), serial 5"));
  EXPECT_FALSE(HasLine("[WARN] Manifest signatures are not checked by this build"));
  EXPECT_EQ(ReadHighestSerial(root), 5u);

  const std::string refused = "Manifest signature refused (attempt 4/4): ";
  const struct {
    const char* name;
    uint64_t serial;
    std::vector<EcPoint> keys;
    std::optional<std::string> signature;  // replaces the good one; empty: no file
    std::string lastLine;
  } kCases[] = {
      {"no signature file",
       5,
       {newKey},
       "",
       "Manifest signature download failed (attempt 4/4): HTTP 404"},
      {"unknown key",
       5,
       {oldKey},
       {},
       refused + "no signature by a key built into this program (signed by " + KeyId(oldKey) + ")"},
      {"bad file",
       5,
       {newKey},
       "kestrivon-signature 1\nbad\n",
       refused + "signature line 2 is not \"ecdsa-p256 <key id> <signature>\""},
      {"older serial",
       4,
       {newKey},
       {},
       "Manifest refused (attempt 4/4): manifest serial 4 is older than 5 already seen"},
  };
  for (const auto& c : kCases) {
    FakeHost& run = NextRun();
    SignedManifest(run, c.serial, c.keys);
    if (c.signature) run.signatureTexts = {*c.signature};
    if (c.signature == "") run.signatureTexts.clear();
    EXPECT_EQ(RunUpdate(run), RunResult::Ready) << c.name;
    EXPECT_EQ(std::ranges::count(run.calls, "fetch signature"), 4) << c.name;
    EXPECT_EQ(run.calls.at(10), "ManifestUnavailable 15") << c.name;
    EXPECT_EQ(log.Texts().at(log.Texts().size() - 4), "[WARN] " + c.lastLine) << c.name;
    EXPECT_EQ(ReadHighestSerial(root), 5u);
  }

  // One changed byte after signing; the same release again is fine.
  FakeHost& changed = NextRun();
  const std::string text = SignedManifest(changed, 5, {newKey});
  changed.manifestTexts = {text.substr(0, text.size() - 1) + " }"};
  EXPECT_EQ(RunUpdate(changed), RunResult::Ready);
  EXPECT_TRUE(HasLine("[WARN] " + refused + "the signature by key " + KeyId(newKey) +
                      " does not match the manifest"));
  FakeHost& again = NextRun();
  SignedManifest(again, 5, {newKey});
  EXPECT_EQ(RunUpdate(again), RunResult::Ready);
  EXPECT_EQ(again.calls.at(4), "UpdateDataReceived 15");
}

// A download kept by an earlier run lasts while the manifest names its package for an update
// (also when the user declines for now) and is resumed once the user agrees; the others go.
TEST_F(UpdateRunTest, KeptDownloadsLastOnlyWhileTheManifestNamesThem) {
  PublishManifest();
  Record({{"1.0.0", std::string(64, 'a')}, {"21.0.2", jre.entry.sha256}, {}});
  for (const Package* package : {&launcher, &jre}) {
    const fs::path kept =
        root / "temp" / (package == &jre ? "jre-package.zip" : "launcher-package.zip");
    fs::create_directories(kept.parent_path());
    std::ofstream(kept, std::ios::binary) << package->body.substr(0, 5);
    WritePartialRecord(kept, {package->entry.url, package->entry.size, package->entry.sha256, "v"});
  }
  host.downloader.outcomes[launcher.entry.url].validator = "v";
  host.acceptComponents = false;
  EXPECT_EQ(RunUpdate(host), RunResult::Cancelled);
  EXPECT_TRUE(fs::exists(PartialRecordPath(root / "temp" / "launcher-package.zip")));
  EXPECT_FALSE(fs::exists(root / "temp" / "jre-package.zip"));

  FakeHost& next = NextRun();
  EXPECT_EQ(RunUpdate(next), RunResult::Ready);
  EXPECT_EQ(next.downloader.calls, Strings{"CDN " + launcher.entry.url + " 4 10 1024 60 from 5"});
  EXPECT_TRUE(fs::is_empty(root / "temp"));
}

}  // namespace
}  // namespace kestrivon::core
