// Component installation on real files: the runtime staged, checked and swapped in with a
// backup, every failure (a cancelled extraction too) leaving the previous runtime as it was;
// the launcher over the install directory after its "app" folder.

#include "win/host/install_component.h"

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/file_tree.h"
#include "tests/support/process_log.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"
#include "win/host/process_state.h"
#include "win/host/text_encoding.h"
#include "win/log/log_file.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

namespace fs = std::filesystem;
using testing::FileTree;
using testing::ReadTree;
using testing::ZipWriter;

// An install directory holding `tree` (its state kept as `before`), and the archive beside it.
struct Install {
  explicit Install(const FileTree& tree) {
    testing::WriteTree(dir, tree);
    before = ReadTree(dir);
  }
  // Everything is inside the install directory, apart from the archive.
  bool NothingElseInRoot() const {
    FileTree outside = ReadTree(root.path());
    std::erase_if(outside, [](const auto& entry) {
      return entry.first.starts_with("Program Files/") || entry.first == "component.zip";
    });
    return outside.empty();
  }

  testing::TempDir root;
  fs::path dir = root.path() / L"Program Files" / L"Kestrivon";
  fs::path archive = root.path() / L"component.zip";
  FileTree before;
};

ZipWriter Runtime(std::string java = "new java") {
  ZipWriter zip;
  zip.AddDirectory("jdk-21/").AddFile("jdk-21/lib/modules", testing::Text(5000));
  if (!java.empty()) zip.AddFile("jdk-21/bin/java.exe", java);
  return zip;
}

const FileTree kOldRuntime = {
    {"runtime/bin/java.exe", "old java"}, {"runtime/lib/only-old.txt", "old"}, {"temp/", ""}};

// The status counts files against all entries (here 100 files and a folder below the
// stripped top one: the last report, at the 100th file, is 99%), mapped into the caller's
// slice of the bar.
TEST(InstallComponent, RuntimeReplacesTheOldOneAndAStaleBackup) {
  Install install(kOldRuntime);
  testing::WriteTree(install.dir, {{"temp/backup-jre/stale.txt", "from an interrupted run"}});
  ZipWriter zip = Runtime();
  zip.AddDirectory("jdk-21/lib/");
  FileTree expected = {{"runtime/", ""},
                       {"runtime/bin/", ""},
                       {"runtime/bin/java.exe", "new java"},
                       {"runtime/lib/", ""},
                       {"runtime/lib/modules", testing::Text(5000)},
                       {"temp/", ""}};
  for (int i = 0; i < 98; ++i) {
    zip.AddFile("jdk-21/lib/f" + std::to_string(i), "");
    expected["runtime/lib/f" + std::to_string(i)] = "";
  }
  ASSERT_TRUE(zip.WriteTo(install.archive));
  errorShown = false;  // the error view freezes the status line

  const auto installed = InstallComponent(install.dir.wstring(), core::Component::Jre,
                                          install.archive.wstring(), 40, 20);
  ASSERT_TRUE(installed) << installed.error();
  EXPECT_EQ(ReadTree(install.dir), expected);
  EXPECT_TRUE(install.NothingElseInRoot());
  const std::lock_guard lock(uiStateMutex);
  EXPECT_EQ(uiState.statusLine, std::wstring(currentUiStrings->statusInstallingJava) + L" (99%)");
  EXPECT_FLOAT_EQ(uiState.progress, 0.59f);  // 40 + 20 * 99 / 100, truncated
}

TEST(InstallComponent, RuntimeFailuresLeaveTheOldRuntime) {
  enum class Fault { None, Cancelled, RuntimeHeld };
  struct Case {
    std::string archive;
    std::string error;
    std::string logLine;  // "" when only the engine logs the error
    Fault fault = Fault::None;
  };
  const Case cases[] = {
      {Runtime("").Build(), "bin\\java.exe not found after extraction", ""},
      {ZipWriter().AddFile("jdk-21/bin/java.exe", "x").AddFile("../../evil.txt", "x").Build(),
       "extraction failed",
       "[ERROR] Extraction failed: unsafe entry path in archive: ../../evil.txt\n"},
      {Runtime().Build(), "extraction failed", "[ERROR] Extraction failed: cancelled\n",
       Fault::Cancelled},
      {Runtime().Build(),
       "can't move the old runtime aside (in use?): " +
           Utf8FromWide(FormatSystemError(ERROR_SHARING_VIOLATION)),
       "", Fault::RuntimeHeld},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error + " " + c.logLine);
    Install install(kOldRuntime);
    ASSERT_TRUE(testing::WriteFileBytes(install.archive, c.archive));
    testing::ProcessLogTail log;
    UniqueFile lock;
    if (c.fault == Fault::RuntimeHeld) lock = testing::HoldOpen(install.dir / L"runtime");

    cancelRequested = c.fault == Fault::Cancelled;
    const auto started = std::chrono::steady_clock::now();
    const auto installed =
        InstallRuntime(install.dir.wstring(), install.archive.wstring(), 40, 20, {20, 10});
    const auto waited = std::chrono::steady_clock::now() - started;
    cancelRequested = false;  // never cleared in the program; the other tests need it off
    lock.Reset();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), c.error);
    EXPECT_EQ(ReadTree(install.dir), install.before) << "staging left or old runtime touched";
    EXPECT_TRUE(install.NothingElseInRoot());
    EXPECT_TRUE(log.Text().ends_with(c.logLine)) << log.Text();
    if (c.fault == Fault::RuntimeHeld) {
      EXPECT_GE(waited, std::chrono::milliseconds(190)) << "fewer than 20 attempts";
    }
  }
}

TEST(InstallComponent, LauncherReplacesTheAppFolderOrIsRefusedWhileItIsInUse) {
  const FileTree before = {{"KestrivonLauncher.exe", "old launcher"},
                           {"app/old.jar", "old jar"},
                           {"config/versions.json", "{}"}};
  const FileTree installed = {{"KestrivonLauncher.exe", "new launcher"},
                              {"app/", ""},
                              {"app/launcher.jar", "new jar"},
                              {"config/", ""},
                              {"config/versions.json", "{}"}};
  for (const bool appHeld : {false, true}) {
    SCOPED_TRACE(appHeld ? "app folder in use" : "old app folder");
    Install install(before);
    ASSERT_TRUE(ZipWriter()
                    .AddFile("KestrivonLauncher.exe", "new launcher")
                    .AddFile("app/launcher.jar", "new jar")
                    .WriteTo(install.archive));
    UniqueFile lock;
    if (appHeld) lock = testing::HoldOpen(install.dir / L"app\\old.jar");
    testing::ProcessLogTail log;

    const auto result = InstallComponent(install.dir.wstring(), core::Component::Launcher,
                                         install.archive.wstring(), 60, 30);
    lock.Reset();
    EXPECT_EQ(result ? "" : result.error(), appHeld ? "can't remove the old app folder" : "");
    EXPECT_EQ(ReadTree(install.dir), appHeld ? install.before : installed);
    const std::string line = (appHeld ? "[WARN] Failed to remove" : "[INFO] Removed") +
                             std::string(" old launcher app directory: ") +
                             Utf8FromWide(install.dir.wstring()) + "\\app\n";
    EXPECT_NE(log.Text().find(line), std::string::npos) << log.Text();
  }
}

}  // namespace
}  // namespace kestrivon::win
