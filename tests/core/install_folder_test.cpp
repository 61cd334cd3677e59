#include "core/install_folder.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrivon::core {
namespace {

TEST(InstallFolder, OnlyAFolderOfItsOwnIsAccepted) {
  const std::vector<std::string> system = {"C:\\Windows", "C:\\Program Files",
                                           "C:\\Users\\\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"};
  using enum InstallFolderProblem;
  const std::pair<std::string_view, InstallFolderProblem> cases[] = {
      {"D:\\Games\\Kestrivon", None},
      {"C:\\Program Files\\Kestrivon", None},
      {"c:\\users\\\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\\AppData\\Local\\Kestrivon", None},
      {"\\\\server\\share\\Kestrivon", None},
      {"D:\\", DriveRoot},
      {"D:\\\\", DriveRoot},
      {"\\\\server\\share", ShareRoot},
      {"\\\\server\\share\\", ShareRoot},
      {"\\\\server", ShareRoot},
      {"C:\\WINDOWS", SystemFolder},
      {"c:\\program files/", SystemFolder},
      {"C:\\Windows.\\", SystemFolder},  // Windows drops the dot
      {"C:\\Program Files .", SystemFolder},
      {"C:\\Users\\\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", SystemFolder},
      {"Games\\Kestrivon", NotFullPath},
      {"\\Games", NotFullPath},
      {"C:Games", NotFullPath},
      {"C:/Games", NotFullPath},
      {"1:\\Games", NotFullPath},
      {"", NotFullPath},
      {"D:\\Games\\..", NotFullPath},
      {"D:\\.\\Games", NotFullPath},
      {"\\\\?\\C:\\Games", NotFullPath},
      {"\\\\.\\PhysicalDrive0\\x", NotFullPath}};
  for (const auto& [path, problem] : cases) {
    EXPECT_EQ(CheckInstallFolder(path, system), problem) << path;
  }
  EXPECT_EQ(InstallFolderProblemText(SystemFolder), "a system folder");
}

}  // namespace
}  // namespace kestrivon::core
