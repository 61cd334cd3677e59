#include "archive/entry_path.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrivon::archive {
namespace {

TEST(NormalizeEntryPath, EachNameIsAcceptedSkippedOrUnsafe) {
  const std::pair<std::string_view, std::string_view> accepted[] = {
      {"bin//lib///x.dll", "bin/lib/x.dll"},
      {"folder/", "folder"},
      {"a\\/b", "a/b"},
      {"lib/META-INF/x", "lib/META-INF/x"},  // only a first component meta-inf is dropped
      {"..a/b..c/.hidden", "..a/b..c/.hidden"},
      // Junk names count as whole components only.
      {"thumbs.db.bak/x.ds_store/__macosx_", "thumbs.db.bak/x.ds_store/__macosx_"},
  };
  for (const auto& [name, expected] : accepted) {
    std::string normalized;
    EXPECT_EQ(NormalizeEntryPath(name, normalized), EntryPathVerdict::Accept) << name;
    EXPECT_EQ(normalized, expected) << name;
  }
  // The others leave no path behind.
  const std::pair<EntryPathVerdict, std::vector<std::string_view>> refused[] = {
      {EntryPathVerdict::Unsafe,
       {"/etc/passwd", "\\windows\\x", "/", "//server/share", "C:x", "c:/x", "z:\\x.dll", "..",
        "../x", "a/../b", "a/b/..", "..\\x", "a\\..\\..\\b", "a/.\\..\\b", "ok/..//x",
        // ".." is unsafe even where a later rule would only skip the name.
        "META-INF/../x", "__MACOSX/../x"}},
      {EntryPathVerdict::Skip,
       {"", "META-INF/MANIFEST.MF", "meta-inf", "Meta-Inf/x", "__MACOSX/a/._b", "a/__macosx/b",
        "a/.DS_Store", "THUMBS.DB", "x/Desktop.INI", "a/./b", "./a", "a/b.", "a./b", "a/...",
        "a /b", "a/b:c", "1:x", "a/stream:$DATA"}}};
  for (const auto& [verdict, names] : refused) {
    for (std::string_view name : names) {
      std::string normalized = "left over";
      EXPECT_EQ(NormalizeEntryPath(name, normalized), verdict) << name;
      EXPECT_EQ(normalized, "") << name;
    }
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
}

}  // namespace
}  // namespace kestrivon::archive
