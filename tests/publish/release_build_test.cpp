#include "tools/publish/release_build.h"

#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tools/publish/command_line.h"
#include "tools/publish/sample_runtime.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

struct Publish {
  explicit Publish(const Args& args) : code(RunPublish(args, out, err)) {}
  std::ostringstream out;
  std::ostringstream err;
  const int code;
};

void WriteFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& file) {
  return std::string(std::istreambuf_iterator<char>(std::ifstream(file).rdbuf()), {});
}

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    names.insert(item.path().lexically_relative(folder).string());
  }
  return names;
}

// The three inputs in `root`, and the command that publishes them into root/release.
Args WriteInputs(const fs::path& root) {
  WriteFile(root / "launcher/KestrivonLauncher.exe", "MZ launcher");
  WriteFile(root / "launcher/app/launcher.jar", "jar");
  EXPECT_TRUE(WriteSampleRuntime(
      {.folder = root / "runtime", .fillerBytes = 3'000'000, .javaExe = {}, .topLevel = "jdk-21"}));
  WriteFile(root / "KestrivonUpdater.exe", "MZ updater");
  const std::string in = root.string();
  return {"build",
          "--output=" + in + "/release",
          "--launcher=" + in + "/launcher",
          "--launcher-version=1.2.3",
          "--runtime=" + in + "/runtime",
          "--runtime-version=21.0.3+9",
          "--updater=" + in + "/KestrivonUpdater.exe",
          "--updater-version=1.0.1"};
}

TEST(ReleaseBuild, RefusesWhatTheUpdaterWouldRefuseAndWritesNothing) {
  using Setup = std::function<void(const fs::path& root, Args& args)>;
  const auto set = [](std::string flag) -> Setup {
    return [flag](const fs::path&, Args& args) { args.push_back("--" + flag); };
  };
  const auto write = [](std::string file) -> Setup {
    return [file](const fs::path& root, Args&) { WriteFile(root / file, ""); };
  };
  const auto remove = [](std::string file) -> Setup {
    return [file](const fs::path& root, Args&) { fs::remove(root / file); };
  };
  const struct {
    const char* what;
    Setup setup;
    std::string message;  // empty: published
  } cases[] = {
      {"launcher without its executable", remove("launcher/KestrivonLauncher.exe"),
       " has no KestrivonLauncher.exe at its top"},
      {"runtime without java.exe", remove("runtime/jdk-21/bin/java.exe"),
       " has no bin/java.exe, neither at its top nor under a single top-level folder"},
      {"runtime with two top-level folders", write("runtime/docs/x"),
       " holds bin/java.exe under jdk-21 but 2 entries at its top"},
      {"runtime of nothing but bin/java.exe, packed under one folder for the updater to strip",
       [](const fs::path& root, Args&) {
         fs::remove_all(root / "runtime");
         WriteFile(root / "runtime/bin/java.exe", "MZ");
       },
       ""},
      {"CDN on another host", set("cdn-base=https://cdn.example.com"),
       "CDN base URL https://cdn.example.com names the host \"cdn.example.com\", but the updater "
       "of this build accepts only cdn.kestrivon.net"},
      {"CDN with a path", set("cdn-base=https://cdn.kestrivon.net/x"),
       "must be just https://cdn.kestrivon.net"},
      {"vendor mirror over HTTP", set("runtime-vendor-url=http://github.com/k/r/{file}"),
       "runtime vendor URL http://github.com/k/r/{file} is not an HTTPS URL"},
      {"vendor mirror on the CDN", set("launcher-vendor-url=https://cdn.kestrivon.net/x.zip"),
       "accepts only github.com or cdn.azul.com"},
      {"empty version", set("launcher-version="), "launcher version is empty"},
      {"two-number version", set("runtime-version=21.0"),
       "runtime version \"21.0\" does not begin with three dot-separated numbers"},
      {"version that is no file name", set("updater-version=1.0.1/../x"),
       "updater version \"1.0.1/../x\" must be at most 64 letters, digits and . _ + -"},
      {"output that exists", write("release/x"), "already exists; publish into a new folder"},
      {"output inside an input",
       [](const fs::path& root, Args& args) {
         args.push_back("--output=" + (root / "launcher/release").string());
       },
       "lies inside the input "},
      {"names that differ only in case", write("launcher/App/x"),
       "App and app differ only in letter case"},
      {"device name", write("launcher/aux.txt"), "aux.txt is not a valid file name on Windows"},
      {"name the updater skips", write("launcher/META-INF/x"),
       "META-INF would be left out by the updater"},
      {"symbolic link",
       [](const fs::path& root, Args&) {
         fs::create_symlink("/etc/hostname", root / "launcher/app/link");
       },
       "app/link is a symbolic link"},
      {"launcher that would replace the installed runtime", write("launcher/runtime/x"),
       "the release fails the updater's checks: launcher package holds runtime, which is not "
       "part of the launcher"},
      {"launcher with a file beside its executable", write("launcher/readme.txt"),
       "launcher package holds readme.txt, which is not part of the launcher"},
      {"file above the extractor's entry limit",
       [](const fs::path& root, Args&) {
         WriteFile(root / "runtime/jdk-21/lib/huge", "");
         fs::resize_file(root / "runtime/jdk-21/lib/huge", 524'288'001);  // sparse
       },
       "entry too large (500 MiB): jdk-21/lib/huge"},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.what);
    kestrivon::testing::TempDir temp;
    Args args = WriteInputs(temp.path());
    item.setup(temp.path(), args);
    const std::set<std::string> before = Listing(temp.path());
    const Publish run(args);
    const std::string err = run.err.str();
    EXPECT_EQ(run.code, item.message.empty() ? 0 : 1) << err;
    if (item.message.empty()) continue;
    EXPECT_NE(err.find(item.message), std::string::npos) << err;
    EXPECT_NE(err.find("Nothing was published."), std::string::npos);
    EXPECT_EQ(Listing(temp.path()), before);
  }
}

TEST(ReleaseBuild, SameInputsGiveTheSameBytesThatPassVerifyUntilTampered) {
  kestrivon::testing::TempDir temp;
  const fs::path root = temp.path();
  Args args = WriteInputs(root);
  const Publish build(args);
  ASSERT_EQ(build.code, 0) << build.err.str();
  EXPECT_NE(build.out.str().find("jre        21.0.3+9"), std::string::npos) << build.out.str();
  // Time stamps of the inputs never reach the packages.
  const fs::path jar = root / "launcher/app/launcher.jar";
  fs::last_write_time(jar, fs::last_write_time(jar) - std::chrono::hours(48));
  args.push_back("--output=" + (root / "second").string());
  ASSERT_EQ(Publish(args).code, 0);

  const fs::path release = root / "release";
  const fs::path copy = root / "second";
  const std::set<std::string> files = Listing(release);
  EXPECT_EQ(files, Listing(copy));
  EXPECT_EQ(files.size(), 6u);  // two folders, three packages, the manifest
  // The manifest names each package by its digest, which verify checks.
  EXPECT_EQ(ReadFile(release / "launcher/launcher-manifest.json"),
            ReadFile(copy / "launcher/launcher-manifest.json"));
  EXPECT_EQ(Publish({"verify", copy.string()}).code, 0);

  // Each change is caught by a check that runs before the one that caught the change before.
  const fs::path jre = copy / *files.lower_bound("launcher/packages/jre-");
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { WriteFile(jre, std::string(fs::file_size(jre), 'x')); }, "sha256 "},
      {[&] { fs::resize_file(jre, 1000); }, "size 1000 != expected"},
      {[&] {
         std::string text = ReadFile(copy / "launcher/launcher-manifest.json");
         text.replace(text.find("https://cdn.kestrivon.net"), 25, "https://cdn.kestrivon.org");
         WriteFile(copy / "launcher/launcher-manifest.json", text);
       },
       "the updater refuses the manifest: launcher entry is missing or invalid"},
  };
  for (const auto& [tamper, message] : cases) {
    tamper();
    const Publish run({"verify", copy.string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.str().find(message), std::string::npos) << run.err.str();
  }
}

// Keys from keygen sign releases whose serials follow each other; verify accepts a release
// only under a key that signed it and only as it was signed.
TEST(ReleaseBuild, SignedReleasesCarryTheirSerialAndPassVerifyOnlyUnderTheirKeys) {
  kestrivon::testing::TempDir temp;
  const fs::path root = temp.path();
  const std::string keys = (root / "keys").string();
  for (const std::string name : {"old", "new"}) {
    const Publish keygen({"keygen", "--output", keys + "/" + name});
    ASSERT_EQ(keygen.code, 0) << keygen.err.str();
    EXPECT_EQ(fs::status(keys + "/" + name + "/manifest-signing.key").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(Publish({"keygen", "--output", keys + "/old"}).code, 1);  // never overwritten

  Args args = WriteInputs(root);
  args.insert(args.end(), {"--signing-key", keys + "/old/manifest-signing.key", "--serial", "41"});
  ASSERT_EQ(Publish(args).code, 0);
  const fs::path first = root / "release";
  const fs::path second = root / "second";
  args.resize(args.size() - 4);
  args.insert(args.end(), {"--output=" + second.string(), "--previous", first.string(),
                           "--signing-key", keys + "/old/manifest-signing.key", "--signing-key",
                           keys + "/new/manifest-signing.key"});
  const Publish rotated(args);
  ASSERT_EQ(rotated.code, 0) << rotated.err.str();
  EXPECT_NE(rotated.out.str().find("Manifest serial 42, signed by key "), std::string::npos);
  EXPECT_EQ(Listing(second).size(), 7u);  // the signature beside the manifest, no key
  EXPECT_EQ(ReadFile(second / "launcher/launcher-manifest.json").find("{\n  \"serial\": 42,"), 0u);
  args.back() = keys + "/old/manifest-signing.key";
  args.insert(args.end(), {"--serial", "40", "--output=" + (root / "third").string()});
  const Publish older(args);
  EXPECT_EQ(older.code, 1);
  EXPECT_NE(older.err.str().find("serial 40 is below 41 of the previous release"),
            std::string::npos);

  const std::string newKey = keys + "/new/manifest-signing.pub";
  const Publish verified({"verify", second.string(), "--public-key", newKey});
  EXPECT_EQ(verified.code, 0) << verified.err.str();
  EXPECT_NE(verified.out.str().find("manifest signature verified (key "), std::string::npos);
  const std::pair<Args, std::string> refused[] = {
      {{"verify", first.string(), "--public-key", newKey},
       "no signature by a key built into this program"},
      {{"verify", root.string() + "/nothing", "--public-key", newKey}, "can't read"},
  };
  for (const auto& [command, message] : refused) {
    const Publish run(command);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.str().find(message), std::string::npos) << run.err.str();
  }
  std::string text = ReadFile(second / "launcher/launcher-manifest.json");
  text.replace(text.find("42"), 2, "43");
  WriteFile(second / "launcher/launcher-manifest.json", text);
  const Publish tampered({"verify", second.string(), "--public-key", newKey});
  EXPECT_NE(tampered.err.str().find("does not match the manifest"), std::string::npos)
      << tampered.err.str();
}

// A runtime whose one file changed a little gets a delta from each earlier release that
// differs; the launcher, unchanged, gets none; verify applies what it has the source of.
TEST(ReleaseBuild, PublishesCheckedDeltasFromEarlierReleases) {
  kestrivon::testing::TempDir temp;
  const fs::path root = temp.path();
  Args args = WriteInputs(root);
  std::string java = ReadFile(root / "runtime/jdk-21/lib/filler-000.bin");
  ASSERT_TRUE(Publish(args).code == 0);
  const auto publish = [&](const std::string& name, const std::string& change, Args more) {
    java.replace(1000, change.size(), change);
    WriteFile(root / "runtime/jdk-21/lib/filler-000.bin", java);
    Args command = args;
    command[1] = "--output=" + (root / name).string();
    command.insert(command.end(), more.begin(), more.end());
    return Publish(command);
  };
  const std::string first = (root / "release").string();
  const Publish second = publish("second", "two", {"--previous", first});
  ASSERT_EQ(second.code, 0) << second.err.str();
  const Publish third =
      publish("third", "three", {"--previous", (root / "second").string(), "--previous", first});
  ASSERT_EQ(third.code, 0) << third.err.str();
  EXPECT_NE(third.out.str().find("Delta jre 21.0.3+9 -> 21.0.3+9: "), std::string::npos)
      << third.out.str();
  const std::string manifest = ReadFile(root / "third/launcher/launcher-manifest.json");
  size_t deltas = 0;
  for (size_t at = manifest.find("\"fromSha256\""); at != std::string::npos;
       at = manifest.find("\"fromSha256\"", at + 1)) {
    ++deltas;
  }
  EXPECT_EQ(deltas, 2u) << manifest;

  const std::pair<Args, std::string> verifies[] = {
      {{"verify", (root / "third").string()}, "0 applied, 2 unchecked"},
      {{"verify", (root / "third").string(), "--previous", first}, "1 applied, 1 unchecked"},
  };
  for (const auto& [command, summary] : verifies) {
    const Publish verified(command);
    EXPECT_EQ(verified.code, 0) << verified.err.str();
    EXPECT_NE(verified.out.str().find(summary), std::string::npos) << verified.out.str();
  }
  // A delta spoilt after publishing is found.
  for (const auto& item : fs::directory_iterator(root / "third/launcher/packages")) {
    if (item.path().filename().string().find("-delta-") == std::string::npos) continue;
    std::string bytes = ReadFile(item.path());
    bytes[bytes.size() / 2] ^= 1;
    WriteFile(item.path(), bytes);
  }
  const Publish spoilt({"verify", (root / "third").string()});
  EXPECT_EQ(spoilt.code, 1);
  EXPECT_NE(spoilt.err.str().find("jre delta: https://"), std::string::npos) << spoilt.err.str();
}

}  // namespace
}  // namespace kestrivon::publish
