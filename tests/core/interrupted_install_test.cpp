#include "core/interrupted_install.h"

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/installed_versions.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::core {
namespace {

namespace fs = std::filesystem;
// Files named "path=content"; folders end in '/'.
using Tree = std::set<std::string>;

void Write(const fs::path& root, const Tree& tree) {
  for (const std::string& item : tree) {
    const size_t equals = item.find('=');
    const fs::path path = root / item.substr(0, equals);
    if (item.ends_with('/')) {
      fs::create_directories(path);
      continue;
    }
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << item.substr(equals + 1);
  }
}

Tree Read(const fs::path& root) {
  Tree tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string name = item.path().lexically_relative(root).generic_string();
    if (item.is_directory()) {
      tree.insert(name + "/");
    } else {
      std::ifstream in(item.path(), std::ios::binary);
      tree.insert(name + "=" + std::string(std::istreambuf_iterator<char>(in), {}));
    }
  }
  return tree;
}

// Every state a kill can leave the two swaps in: the previous copy comes back only when the
// swap had not finished; a finished swap or a first install keeps what is there.
TEST(InterruptedInstall, EachCutShortSwapGetsThePreviousCopyBack) {
  const struct {
    const char* what;
    Tree before;
    Tree after;
    std::string log;
  } cases[] = {
      {"runtime moved aside, new one not in",
       {"other=x", "temp/", "temp/backup-jre/", "temp/backup-jre/bin/",
        "temp/backup-jre/bin/java.exe=old"},
       {"other=x", "temp/", "runtime/", "runtime/bin/", "runtime/bin/java.exe=old"},
       "[WARN] Restored the previous runtime from *"},
      {"runtime swapped, backup not yet deleted",
       {"runtime/", "runtime/bin/", "runtime/bin/java.exe=new", "temp/", "temp/backup-jre/",
        "temp/backup-jre/bin/", "temp/backup-jre/bin/java.exe=old"},
       {"runtime/", "runtime/bin/", "runtime/bin/java.exe=new", "temp/", "temp/backup-jre/",
        "temp/backup-jre/bin/", "temp/backup-jre/bin/java.exe=old"},
       ""},
      {"runtime backup half deleted",
       {"temp/", "temp/backup-jre/", "temp/backup-jre/lib/"},
       {"temp/", "temp/backup-jre/", "temp/backup-jre/lib/"},
       ""},
      {"launcher executable moved aside, app still in place",
       {"app/", "app/a.jar=old", "temp/", "temp/backup-launcher/",
        "temp/backup-launcher/KestrivonLauncher.exe=old"},
       {"app/", "app/a.jar=old", "temp/", "temp/backup-launcher/", "KestrivonLauncher.exe=old"},
       "[WARN] Restored the previous launcher from *"},
      {"launcher's new app in, new executable not",
       {"app/", "app/b.jar=new", "temp/", "temp/backup-launcher/",
        "temp/backup-launcher/KestrivonLauncher.exe=old", "temp/backup-launcher/app/",
        "temp/backup-launcher/app/a.jar=old"},
       {"app/", "app/a.jar=old", "temp/", "temp/backup-launcher/", "KestrivonLauncher.exe=old"},
       "[WARN] Restored the previous launcher from *"},
      {"launcher swapped",
       {"app/", "KestrivonLauncher.exe=new", "temp/", "temp/backup-launcher/",
        "temp/backup-launcher/KestrivonLauncher.exe=old"},
       {"app/", "KestrivonLauncher.exe=new", "temp/", "temp/backup-launcher/",
        "temp/backup-launcher/KestrivonLauncher.exe=old"},
       ""},
      {"first launcher install cut short",
       {"app/", "app/b.jar=new", "temp/", "temp/backup-launcher/"},
       {"app/", "app/b.jar=new", "temp/", "temp/backup-launcher/"},
       ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const testing::TempDir dir;
    Write(dir.path(), c.before);
    const testing::LogCapture log;
    RestoreInterruptedInstalls(dir.path());
    EXPECT_EQ(Read(dir.path()), c.after);
    const std::string line = log.Texts().empty() ? "" : log.Texts().front();
    EXPECT_EQ(line.substr(0, c.log.find('*')), c.log.substr(0, c.log.find('*')));
    EXPECT_LE(log.Texts().size(), 1u);
  }
}

// Killed between the record naming the new updater and the new file arriving: the record names
// the previous updater again, so the next run offers the update anew.
TEST(InterruptedInstall, UnfinishedUpdaterSwapTakesBackTheRecord) {
  const testing::TempDir dir;
  fs::create_directories(dir.path() / "temp");
  InstalledVersions record;
  record.launcher = {"2.0.0", std::string(64, 'b')};
  record.updaterArchiveSha256 = std::string(64, 'n');
  ASSERT_TRUE(WriteInstalledVersions(dir.path(), record));
  ASSERT_TRUE(WriteUpdaterSwapMarker(dir.path(), std::string(64, 'o')));
  const testing::LogCapture log;
  RestoreInterruptedInstalls(dir.path());
  record.updaterArchiveSha256 = std::string(64, 'o');
  EXPECT_EQ(SerializeInstalledVersions(ReadInstalledVersions(dir.path())),
            SerializeInstalledVersions(record));
  EXPECT_FALSE(fs::exists(dir.path() / "temp" / updaterSwapMarker));
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"[WARN] The updater's replacement didn't finish; "
                                                  "the record names the previous updater again"});
  // Finished swaps remove the marker: nothing changes then.
  RestoreInterruptedInstalls(dir.path());
  EXPECT_EQ(SerializeInstalledVersions(ReadInstalledVersions(dir.path())),
            SerializeInstalledVersions(record));
}

}  // namespace
}  // namespace kestrivon::core
