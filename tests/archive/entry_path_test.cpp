#include "archive/entry_path.h"

#include <string>

#include <gtest/gtest.h>

namespace kestrivon::archive {
namespace {

EntryPathVerdict Verdict(std::string_view name) {
  std::string normalized = "left over";
  const EntryPathVerdict verdict = NormalizeEntryPath(name, normalized);
  if (verdict != EntryPathVerdict::Accept) {
    EXPECT_EQ(normalized, "") << name;
  }
  return verdict;
}

TEST(NormalizeEntryPath, AcceptedNamesAreJoinedWithSingleSlashes) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"bin/java.exe", "bin/java.exe"},
      {"bin//lib///x.dll", "bin/lib/x.dll"},
      {"folder/", "folder"},
      {"a\\b\\c.txt", "a/b/c.txt"},
      {"a\\/b", "a/b"},
      {"lib/META-INF/x", "lib/META-INF/x"},  // only a first component meta-inf is dropped
      {"..a/b..c/.hidden", "..a/b..c/.hidden"},
      {"\xD0\xBF\xD1\x80\xD0\xB8/\xE2\x82\xAC.txt", "\xD0\xBF\xD1\x80\xD0\xB8/\xE2\x82\xAC.txt"},
  };
  for (const auto& [name, expected] : cases) {
    std::string normalized;
    EXPECT_EQ(NormalizeEntryPath(name, normalized), EntryPathVerdict::Accept) << name;
    EXPECT_EQ(normalized, expected) << name;
  }
}

TEST(NormalizeEntryPath, NamesThatLeaveTheFolderAreUnsafe) {
  for (std::string_view name :
       {"/etc/passwd", "\\windows\\x", "/", "//server/share", "C:x", "c:/x", "z:\\x.dll", "..",
        "../x", "a/../b", "a/b/..", "..\\x", "a\\..\\..\\b", "a/.\\..\\b", "ok/..//x"}) {
    EXPECT_EQ(Verdict(name), EntryPathVerdict::Unsafe) << name;
  }
  // ".." is unsafe even where a later rule would only skip the name.
  EXPECT_EQ(Verdict("META-INF/../x"), EntryPathVerdict::Unsafe);
  EXPECT_EQ(Verdict("__MACOSX/../x"), EntryPathVerdict::Unsafe);
}

TEST(NormalizeEntryPath, JunkAndOddNamesAreSkipped) {
  for (std::string_view name :
       {"", "META-INF/MANIFEST.MF", "meta-inf", "Meta-Inf/x", "__MACOSX/a/._b", "a/__macosx/b",
        "a/.DS_Store", "THUMBS.DB", "x/Desktop.INI", "a/./b", "./a", "a/b.", "a./b", "a/...",
        "a/b:c", "1:x", "a/stream:$DATA"}) {
    EXPECT_EQ(Verdict(name), EntryPathVerdict::Skip) << name;
  }
  // No components at all.
  EXPECT_EQ(Verdict(std::string_view("\0", 0)), EntryPathVerdict::Skip);
}

TEST(IsJunkName, WholeComponentsInAnyLetterCase) {
  for (std::string_view name : {".ds_store", ".DS_Store", "Thumbs.db", "DESKTOP.INI", "__MacOSX"}) {
    EXPECT_TRUE(IsJunkName(name)) << name;
  }
  for (std::string_view name : {"", "thumbs.db.bak", "x.ds_store", "__macosx_", "meta-inf"}) {
    EXPECT_FALSE(IsJunkName(name)) << name;
  }
}

TEST(EntryNameText, OnlyWellFormedUtf8CanBecomeAPath) {
  EXPECT_TRUE(IsUtf8PathText("plain/\xC3\xA9/\xF0\x9F\x98\x80"));
  for (std::string_view bad : {
           std::string_view("caf\xE9"),           // Latin-1
           std::string_view("\xC0\xAF"),          // overlong '/'
           std::string_view("\xED\xA0\x80"),      // surrogate
           std::string_view("\xF4\x90\x80\x80"),  // beyond U+10FFFF
           std::string_view("\xE2\x82"),          // cut sequence
           std::string_view("a\0b", 3),           // NUL would cut the file name
       }) {
    EXPECT_FALSE(IsUtf8PathText(bad)) << PrintableName(bad);
  }
  EXPECT_EQ(PrintableName("caf\xE9/\xC3\xA9"), "caf\\xE9/\xC3\xA9");
  EXPECT_EQ(PrintableName(std::string_view("a\0b", 3)), "a\\x00b");
}

}  // namespace
}  // namespace kestrivon::archive
