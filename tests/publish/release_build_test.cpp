#include "tools/publish/release_build.h"

#include <fstream>
#include <functional>
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

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

Outcome Publish(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  Outcome run;
  run.code = RunPublish(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

void WriteFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    names.push_back(item.path().lexically_relative(folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ReleaseBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(launcher_ / "KestrivonLauncher.exe", "MZ launcher");
    WriteFile(launcher_ / "app" / "launcher.jar", "jar");
    ASSERT_TRUE(WriteSampleRuntime(
        {.folder = runtime_, .fillerBytes = 3'000'000, .javaExe = {}, .topLevel = "jdk-21"}));
    WriteFile(updater_, "MZ updater");
  }

  std::vector<std::string> Args(const fs::path& output) const {
    return {"build",
            "--output",
            output.string(),
            "--launcher",
            launcher_.string(),
            "--launcher-version",
            "1.2.3",
            "--runtime",
            runtime_.string(),
            "--runtime-version",
            "21.0.3+9",
            "--updater",
            updater_.string(),
            "--updater-version",
            "1.0.1"};
  }

  kestrivon::testing::TempDir temp_;
  const fs::path root_ = temp_.path();
  const fs::path launcher_ = root_ / "launcher";
  const fs::path runtime_ = root_ / "runtime";
  const fs::path updater_ = root_ / "KestrivonUpdater.exe";
  const fs::path output_ = root_ / "site" / "release";
};

TEST_F(ReleaseBuildTest, RefusesWhatTheUpdaterWouldRefuseAndPublishesNothing) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& root, std::vector<std::string>& args)> setup;
    std::string message;  // empty: published
  };
  const auto set = [](std::string flag, std::string value) {
    return [flag, value](const fs::path&, std::vector<std::string>& args) {
      args.push_back("--" + flag);
      args.push_back(value);
    };
  };
  const Case cases[] = {
      {"launcher without its executable",
       [](const fs::path& root, auto&) { fs::remove(root / "launcher/KestrivonLauncher.exe"); },
       "launcher folder " + launcher_.string() + " has no KestrivonLauncher.exe at its top"},
      {"runtime without java.exe",
       [](const fs::path& root, auto&) { fs::remove(root / "runtime/jdk-21/bin/java.exe"); },
       "runtime folder " + runtime_.string() +
           " has no bin/java.exe, neither at its top nor under a single top-level folder"},
      {"runtime with two top-level folders",
       [](const fs::path& root, auto&) { fs::create_directory(root / "runtime/docs"); },
       "runtime folder " + runtime_.string() +
           " holds bin/java.exe under jdk-21 but 2 entries at its top"},
      {"runtime of nothing but bin/java.exe, packed under one folder for the updater to strip",
       [](const fs::path& root, auto&) {
         fs::remove_all(root / "runtime");
         WriteFile(root / "runtime/bin/java.exe", "MZ");
       },
       ""},
      {"CDN on another host", set("cdn-base", "https://cdn.example.com"),
       "CDN base URL https://cdn.example.com names the host \"cdn.example.com\", but the updater "
       "of this build accepts only cdn.kestrivon.net"},
      {"CDN with a port", set("cdn-base", "https://cdn.kestrivon.net:443"),
       "names the host \"cdn.kestrivon.net:443\""},
      {"CDN with a path", set("cdn-base", "https://cdn.kestrivon.net/x"),
       "must be just https://cdn.kestrivon.net"},
      {"vendor mirror over HTTP", set("runtime-vendor-url", "http://github.com/k/r/{file}"),
       "runtime vendor URL http://github.com/k/r/{file} is not an HTTPS URL"},
      {"vendor mirror on the CDN", set("launcher-vendor-url", "https://cdn.kestrivon.net/x.zip"),
       "accepts only github.com or cdn.azul.com"},
      {"empty version", set("launcher-version", ""), "launcher version is empty"},
      {"two-number version", set("runtime-version", "21.0"),
       "runtime version \"21.0\" does not begin with three dot-separated numbers"},
      {"version that is no file name", set("updater-version", "1.0.1/../x"),
       "updater version \"1.0.1/../x\" must be at most 64 letters, digits and . _ + -"},
      {"output that exists",
       [](const fs::path& root, auto&) { fs::create_directories(root / "site/release"); },
       "already exists; publish into a new folder"},
      {"output inside an input", set("output", (launcher_ / "release").string()),
       "lies inside the input " + launcher_.string()},
      {"names that differ only in case",
       [](const fs::path& root, auto&) { WriteFile(root / "launcher/App/x", ""); },
       "App and app differ only in letter case"},
      {"device name", [](const fs::path& root, auto&) { WriteFile(root / "launcher/aux.txt", ""); },
       "aux.txt is not a valid file name on Windows"},
      {"name the updater skips",
       [](const fs::path& root, auto&) { WriteFile(root / "launcher/META-INF/x", ""); },
       "META-INF would be left out by the updater"},
      {"symbolic link",
       [](const fs::path& root, auto&) {
         fs::create_symlink("/etc/hostname", root / "launcher/app/link");
       },
       "app/link is a symbolic link"},
      {"launcher that would replace the installed runtime",
       [](const fs::path& root, auto&) { WriteFile(root / "launcher/runtime/x", ""); },
       "the release fails the updater's checks: launcher package holds runtime, which the "
       "updater keeps in the install folder"},
      {"file above the extractor's entry limit",
       [](const fs::path& root, auto&) {
         WriteFile(root / "runtime/jdk-21/lib/huge", "");
         fs::resize_file(root / "runtime/jdk-21/lib/huge", 524'288'001);  // sparse
       },
       "entry too large (500 MiB): jdk-21/lib/huge"},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.what);
    kestrivon::testing::TempDir temp;
    fs::copy(root_, temp.path(), fs::copy_options::recursive);
    // The case's paths, moved into its own copy of the inputs.
    const auto moved = [&](std::string text) {
      const std::string from = root_.string();
      for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
        text.replace(at, from.size(), temp.path().string());
      }
      return text;
    };
    std::vector<std::string> args = Args(output_);
    item.setup(temp.path(), args);
    for (std::string& arg : args) arg = moved(arg);
    const std::vector<std::string> before = fs::exists(temp.path() / "site")
                                                ? Listing(temp.path() / "site")
                                                : std::vector<std::string>{};

    const Outcome run = Publish(args);
    const std::string expected = moved(item.message);
    if (expected.empty()) {
      EXPECT_EQ(run.code, 0) << run.err;
      continue;
    }
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Nothing was published."), std::string::npos);
    const std::vector<std::string> after = fs::exists(temp.path() / "site")
                                               ? Listing(temp.path() / "site")
                                               : std::vector<std::string>{};
    EXPECT_EQ(after, before);
  }
}

TEST_F(ReleaseBuildTest, SameInputsGiveTheSameBytes) {
  ASSERT_EQ(Publish(Args(root_ / "first")).code, 0);
  // Time stamps of the inputs never reach the packages.
  fs::last_write_time(
      launcher_ / "app" / "launcher.jar",
      fs::last_write_time(launcher_ / "app" / "launcher.jar") - std::chrono::hours(48));
  ASSERT_EQ(Publish(Args(root_ / "second")).code, 0);

  const std::vector<std::string> files = Listing(root_ / "first");
  EXPECT_EQ(files, Listing(root_ / "second"));
  EXPECT_EQ(files.size(), 6u);  // two folders, three packages, the manifest
  for (const std::string& file : files) {
    if (fs::is_regular_file(root_ / "first" / file)) {
      EXPECT_EQ(ReadFile(root_ / "first" / file), ReadFile(root_ / "second" / file)) << file;
    }
  }
}

TEST_F(ReleaseBuildTest, PublishedReleasePassesVerifyAndATamperedOneFails) {
  const Outcome build = Publish(Args(output_));
  ASSERT_EQ(build.code, 0) << build.err;
  EXPECT_NE(build.out.find("jre        21.0.3+9"), std::string::npos) << build.out;
  const Outcome verified = Publish({"verify", output_.string()});
  EXPECT_EQ(verified.code, 0) << verified.err;

  fs::path jre;
  for (const auto& item : fs::directory_iterator(output_ / "launcher" / "packages")) {
    if (item.path().filename().string().starts_with("jre-")) jre = item.path();
  }
  const fs::path manifest = output_ / "launcher" / "launcher-manifest.json";
  struct Case {
    const char* what;
    std::function<void(const fs::path& copy)> tamper;
    std::string message;
  };
  const std::string jreName = jre.filename().string();
  const Case cases[] = {
      {"one byte changed",
       [&](const fs::path& copy) {
         std::fstream file(copy / "launcher/packages" / jreName,
                           std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(100);
         file.put('\x55');
       },
       "sha256 "},
      {"truncated",
       [&](const fs::path& copy) { fs::resize_file(copy / "launcher/packages" / jreName, 1000); },
       "size 1000 != expected"},
      {"manifest naming another host",
       [&](const fs::path& copy) {
         std::string text = ReadFile(copy / "launcher/launcher-manifest.json");
         text.replace(text.find("https://cdn.kestrivon.net"), 25, "https://cdn.kestrivon.org");
         WriteFile(copy / "launcher/launcher-manifest.json", text);
       },
       "the updater refuses the manifest: launcher entry is missing or invalid"},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.what);
    kestrivon::testing::TempDir temp;
    fs::copy(output_, temp.path(), fs::copy_options::recursive);
    item.tamper(temp.path());
    const Outcome run = Publish({"verify", temp.path().string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find(item.message), std::string::npos) << run.err;
  }
  EXPECT_TRUE(fs::exists(manifest));
}

}  // namespace
}  // namespace kestrivon::publish
