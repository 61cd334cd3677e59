// Component installation on real files: every failure (a cancelled extraction too) leaves the
// previous install as it was. A hostile archive is refused in the end-to-end runs.

#include "win/install/install_component.h"

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/file_tree.h"
#include "tests/support/process_log.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"
#include "win/base/text_encoding.h"
#include "win/log/log_file.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

using core::Component;
using testing::FileTree;
using testing::ReadTree;
using testing::ZipWriter;

TEST(InstallComponent, InstallsOrLeavesThePreviousInstallAsItWas) {
  enum class Fault { None, StaleBackup, Cancelled, RuntimeHeld, AppHeld };
  const testing::TempDir root;
  const std::filesystem::path dir = root.path() / L"Program Files" / L"Kestrivon";
  const std::filesystem::path archive = root.path() / L"component.zip";
  testing::WriteTree(dir, {{"KestrivonLauncher.exe", "old launcher"},
                           {"app/old.jar", "old jar"},
                           {"runtime/bin/java.exe", "old java"},
                           {"runtime/lib/only-old.txt", "old"},
                           {"temp/", ""}});
  const FileTree before = ReadTree(dir);

  // The status counts files against all entries (here 100 files and a folder below the
  // stripped top one: the last report, at the 100th file, is 99%).
  ZipWriter runtime;
  runtime.AddDirectory("jdk-21/").AddFile("jdk-21/lib/modules", testing::Text(5000));
  const std::string withoutJava = runtime.Build();
  runtime.AddFile("jdk-21/bin/java.exe", "new java").AddDirectory("jdk-21/lib/");
  FileTree withRuntime = {{"runtime/", ""},
                          {"runtime/bin/", ""},
                          {"runtime/bin/java.exe", "new java"},
                          {"runtime/lib/", ""},
                          {"runtime/lib/modules", testing::Text(5000)}};
  for (int i = 0; i < 98; ++i) {
    runtime.AddFile("jdk-21/lib/f" + std::to_string(i), "");
    withRuntime["runtime/lib/f" + std::to_string(i)] = "";
  }
  FileTree withLauncher = {
      {"KestrivonLauncher.exe", "new launcher"}, {"app/", ""}, {"app/launcher.jar", "new jar"}};
  for (const auto& entry : before) {
    if (!entry.first.starts_with("runtime/")) withRuntime.insert(entry);
    if (!entry.first.starts_with("app/")) withLauncher.insert(entry);
  }
  const std::string launcher = ZipWriter()
                                   .AddFile("KestrivonLauncher.exe", "new launcher")
                                   .AddFile("app/launcher.jar", "new jar")
                                   .Build();
  const std::string removed =
      "[INFO] Removed old launcher directory: " + Utf8FromWide(dir.wstring()) +
      "\\temp\\backup-launcher\n";
  const std::string foreign = ZipWriter()
                                  .AddFile("KestrivonLauncher.exe", "new launcher")
                                  .AddFile("app/launcher.jar", "new jar")
                                  .AddFile("config/versions.json", "{}")
                                  .Build();

  struct Case {
    Component component;
    std::string archive;
    std::string error;    // "" when installed
    std::string logLine;  // the last one; "" when only the engine logs the error
    Fault fault = Fault::None;
  };
  const Case cases[] = {
      {Component::Jre, runtime.Build(), "", "", Fault::StaleBackup},
      {Component::Jre, withoutJava, "bin\\java.exe not found after extraction", ""},
      {Component::Jre, runtime.Build(), "extraction failed",
       "[ERROR] Extraction failed: cancelled\n", Fault::Cancelled},
      {Component::Jre, runtime.Build(),
       "can't move the old runtime aside (in use?): " +
           Utf8FromWide(FormatSystemError(ERROR_SHARING_VIOLATION)),
       "", Fault::RuntimeHeld},
      {Component::Launcher, launcher, "", removed},
      // Staged and checked first: a refused package or a held folder changes nothing.
      {Component::Launcher, foreign,
       "launcher package holds config, which is not part of the launcher", ""},
      {Component::Launcher, ZipWriter().AddFile("app/launcher.jar", "new jar").Build(),
       "KestrivonLauncher.exe not found after extraction", ""},
      {Component::Launcher, launcher,
       "can't move the old app aside (in use?): " +
           Utf8FromWide(FormatSystemError(ERROR_SHARING_VIOLATION)),
       "", Fault::AppHeld},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error + " " + c.logLine);
    std::filesystem::remove_all(dir);
    testing::WriteTree(dir, before);
    if (c.fault == Fault::StaleBackup) {
      testing::WriteTree(dir, {{"temp/backup-jre/stale.txt", "from an interrupted run"}});
    }
    ASSERT_TRUE(testing::WriteFileBytes(archive, c.archive));
    testing::ProcessLogTail log;
    UniqueFile lock;
    if (c.fault == Fault::RuntimeHeld) lock = testing::HoldOpen(dir / L"runtime");
    if (c.fault == Fault::AppHeld) lock = testing::HoldOpen(dir / L"app");
    cancelRequested = c.fault == Fault::Cancelled;
    errorShown = false;  // the error view freezes the status line

    const auto started = std::chrono::steady_clock::now();
    const auto result =
        c.fault == Fault::RuntimeHeld
            ? InstallRuntime(dir.wstring(), archive.wstring(), 40, 20, {20, 10})
        : c.fault == Fault::AppHeld
            ? InstallLauncher(dir.wstring(), archive.wstring(), 40, 20, {2, 10})
            : InstallComponent(dir.wstring(), c.component, archive.wstring(), 40, 20);
    const auto waited = std::chrono::steady_clock::now() - started;
    cancelRequested = false;  // never cleared in the program; the other tests need it off
    lock.Reset();
    EXPECT_EQ(result ? "" : result.error(), c.error);
    const bool jre = c.component == Component::Jre;
    EXPECT_EQ(ReadTree(dir), c.error.empty() ? (jre ? withRuntime : withLauncher) : before);
    EXPECT_TRUE(log.Text().ends_with(c.logLine)) << log.Text();
    if (c.fault == Fault::RuntimeHeld) {
      EXPECT_GE(waited, std::chrono::milliseconds(190)) << "fewer than 20 attempts";
    }
    if (c.error.empty()) {  // the last report, mapped into the caller's slice of the bar
      const std::lock_guard uiLock(uiStateMutex);
      EXPECT_EQ(uiState.statusLine,
                jre ? std::wstring(currentUiStrings->statusInstallingJava) + L" (99%)"
                    : std::wstring(currentUiStrings->statusInstallingLauncher) + L" (100%)");
      EXPECT_FLOAT_EQ(uiState.progress, jre ? 0.59f : 0.6f);  // 40 + 20 * 99 / 100, truncated
    }
  }
}

}  // namespace
}  // namespace kestrivon::win
