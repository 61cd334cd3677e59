// Component installation on real files: the runtime staged, checked and swapped in with a
// backup, every failure leaving the previous runtime as it was; the launcher over the
// install directory after its "app" folder.

#include "win/host/install_component.h"

#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/file_tree.h"
#include "tests/support/process_log.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"
#include "win/host/text_encoding.h"
#include "win/log/log_file.h"

namespace kestrivon::win {
namespace {

namespace fs = std::filesystem;
using testing::FileTree;
using testing::HoldOpen;
using testing::ProcessLogTail;
using testing::ReadTree;
using testing::TempDir;
using testing::WriteTree;
using testing::ZipWriter;

// An install directory whose parents do not exist yet, and the archive beside it.
struct Install {
  TempDir root;
  fs::path dir = root.path() / L"Program Files" / L"Kestrivon";
  fs::path archive = root.path() / L"component.zip";

  std::wstring Dir() const { return dir.wstring(); }
  std::wstring Archive() const { return archive.wstring(); }
  // Everything is inside the install directory, apart from the archive.
  bool NothingElseInRoot() const {
    FileTree outside = ReadTree(root.path());
    std::erase_if(outside, [](const auto& entry) {
      return entry.first.starts_with("Program Files/") || entry.first == "component.zip";
    });
    return outside.empty();
  }
};

ZipWriter Runtime(std::string java = "new java") {
  ZipWriter zip;
  zip.AddDirectory("jdk-21/").AddFile("jdk-21/lib/modules", testing::Text(5000));
  if (!java.empty()) zip.AddFile("jdk-21/bin/java.exe", java);
  return zip;
}

const FileTree kOldRuntime = {{"runtime/", ""},
                              {"runtime/bin/", ""},
                              {"runtime/bin/java.exe", "old java"},
                              {"runtime/lib/", ""},
                              {"runtime/lib/only-old.txt", "old"},
                              {"temp/", ""}};

const FileTree kNewRuntime = {{"runtime/", ""},
                              {"runtime/bin/", ""},
                              {"runtime/bin/java.exe", "new java"},
                              {"runtime/lib/", ""},
                              {"runtime/lib/modules", testing::Text(5000)},
                              {"temp/", ""}};

TEST(InstallComponent, RuntimeFirstInstallAndReplacement) {
  struct Case {
    const char* name;
    FileTree before;
  };
  FileTree stale = kOldRuntime;
  stale["temp/backup-jre/"] = "";
  stale["temp/backup-jre/stale.txt"] = "from an interrupted run";
  for (const Case& c :
       {Case{"first install, no parents", {}}, Case{"old runtime and stale backup", stale}}) {
    SCOPED_TRACE(c.name);
    Install install;
    WriteTree(install.dir, c.before);
    ASSERT_TRUE(Runtime().WriteTo(install.archive));

    const auto installed =
        InstallComponent(install.Dir(), core::Component::Jre, install.Archive(), 40, 20);
    ASSERT_TRUE(installed) << installed.error();
    EXPECT_EQ(ReadTree(install.dir), kNewRuntime);
    EXPECT_TRUE(install.NothingElseInRoot());
  }
}

TEST(InstallComponent, RuntimeFailuresLeaveTheOldRuntime) {
  struct Case {
    const char* name;
    std::string archive;
    std::string error;
    std::string logLine;  // "" when only the engine logs the error
  };
  const Case cases[] = {
      {"not a ZIP archive", "PK not really", "extraction failed",
       "[ERROR] Extraction failed: not a valid ZIP archive: "},
      {"no java.exe", Runtime("").Build(), "bin\\java.exe not found after extraction", ""},
      {"escaping entry",
       ZipWriter().AddFile("jdk-21/bin/java.exe", "x").AddFile("../../evil.txt", "x").Build(),
       "extraction failed",
       "[ERROR] Extraction failed: unsafe entry path in archive: ../../evil.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Install install;
    WriteTree(install.dir, kOldRuntime);
    ASSERT_TRUE(testing::WriteFileBytes(install.archive, c.archive));
    ProcessLogTail log;

    const auto installed = InstallRuntime(install.Dir(), install.Archive(), 40, 20);
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), c.error);
    EXPECT_EQ(ReadTree(install.dir), kOldRuntime) << "staging left or old runtime touched";
    EXPECT_TRUE(install.NothingElseInRoot());
    if (!c.logLine.empty()) {
      EXPECT_NE(log.Text().find(c.logLine), std::string::npos) << log.Text();
    }
  }
}

TEST(InstallComponent, LockedOldRuntimeFailsAfterTwentyAttempts) {
  Install install;
  WriteTree(install.dir, kOldRuntime);
  ASSERT_TRUE(Runtime().WriteTo(install.archive));
  UniqueFile lock = HoldOpen(install.dir / L"runtime");
  ASSERT_TRUE(lock);

  const auto started = std::chrono::steady_clock::now();
  const auto installed = InstallRuntime(install.Dir(), install.Archive(), 40, 20, {20, 10});
  const auto waited = std::chrono::steady_clock::now() - started;
  ASSERT_FALSE(installed);
  EXPECT_EQ(installed.error(), "can't move the old runtime aside (in use?): " +
                                   Utf8FromWide(FormatSystemError(ERROR_SHARING_VIOLATION)));
  EXPECT_GE(waited, std::chrono::milliseconds(190)) << "fewer than 20 attempts";
  lock.Reset();
  EXPECT_EQ(ReadTree(install.dir), kOldRuntime);
}

TEST(InstallComponent, LauncherRoad) {
  const FileTree before = {{"KestrivonLauncher.exe", "old launcher"},
                           {"config/", ""},
                           {"config/versions.json", "{}"},
                           {"runtime/", ""},
                           {"runtime/java.exe", "java"}};
  FileTree withApp = before;
  withApp["app/"] = "";
  withApp["app/old.jar"] = "old jar";
  FileTree installed = before;
  installed["KestrivonLauncher.exe"] = "new launcher";
  installed["app/"] = "";
  installed["app/launcher.jar"] = "new jar";

  struct Case {
    const char* name;
    FileTree before;
    bool appHeld;
    FileTree after;
    std::string error;
    std::string logLine;  // the removal's line, if any
  };
  const Case cases[] = {
      {"no app folder", before, false, installed, "", ""},
      {"old app folder", withApp, false, installed, "",
       "[INFO] Removed old launcher app directory: "},
      {"app folder in use", withApp, true, withApp, "can't remove the old app folder",
       "[WARN] Failed to remove old launcher app directory: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Install install;
    WriteTree(install.dir, c.before);
    ASSERT_TRUE(ZipWriter()
                    .AddFile("KestrivonLauncher.exe", "new launcher")
                    .AddFile("app/launcher.jar", "new jar")
                    .WriteTo(install.archive));
    UniqueFile lock;
    if (c.appHeld) lock = HoldOpen(install.dir / L"app\\old.jar");
    ProcessLogTail log;

    const auto result =
        InstallComponent(install.Dir(), core::Component::Launcher, install.Archive(), 60, 30);
    lock.Reset();
    EXPECT_EQ(result ? "" : result.error(), c.error);
    EXPECT_EQ(ReadTree(install.dir), c.after);
    const std::string text = log.Text();
    if (c.logLine.empty()) {
      EXPECT_EQ(text.find("old launcher app"), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find(c.logLine + Utf8FromWide(install.Dir()) + "\\app\n"), std::string::npos)
          << text;
    }
  }
}

}  // namespace
}  // namespace kestrivon::win
