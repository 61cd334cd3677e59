// Fuzz target: NormalizeEntryPath. An accepted path must be relative, free of empty, "." and
// ".." components, stay inside any folder it is joined to, and normalize to itself; a refused
// or skipped one leaves no path behind. The log form of any name is printable UTF-8.

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>

#include "archive/entry_path.h"
#include "core/escaped_text.h"
#include "core/path_utf8.h"
#include "fuzz/fuzz_check.h"

void kestrivon::fuzz::TestOneInput(std::string_view name) {
  std::string normalized;
  const archive::EntryPathVerdict verdict = archive::NormalizeEntryPath(name, normalized);
  Check(archive::IsUtf8PathText(core::EscapeText(name)), "log form is not UTF-8");
  if (verdict != archive::EntryPathVerdict::Accept) {
    Check(normalized.empty(), "path left behind by a refusal");
    return;
  }

  Check(normalized.find_first_of("\\:") == std::string::npos, "accepted path with '\\' or ':'",
        normalized);
  // Empty components also stand for a leading, trailing or doubled '/'.
  for (size_t start = 0; start <= normalized.size();) {
    const size_t slash = std::min(normalized.find('/', start), normalized.size());
    const std::string_view component(normalized.data() + start, slash - start);
    Check(!component.empty() && component != "." && component != ".." && component.back() != '.' &&
              !archive::IsJunkName(component),
          "accepted path with an empty, dot or junk component", normalized);
    start = slash + 1;
  }

  std::string again;
  Check(archive::NormalizeEntryPath(normalized, again) == archive::EntryPathVerdict::Accept &&
            again == normalized,
        "normalizing twice changes the path", normalized);

  if (archive::IsUtf8PathText(normalized)) {
    const std::filesystem::path base = "/destination";
    const std::filesystem::path joined = (base / core::PathFromUtf8(normalized)).lexically_normal();
    const auto inside = joined.lexically_relative(base);
    Check(!inside.empty() && *inside.begin() != "..", "accepted path leaves the folder",
          normalized);
  }
}
