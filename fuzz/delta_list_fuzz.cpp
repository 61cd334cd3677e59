// Fuzz target: the delta package's file list. An accepted list holds only paths in the
// extractor's normal form, and reads back unchanged once written.

#include <string>
#include <string_view>

#include "archive/entry_path.h"
#include "delta/delta_list.h"
#include "fuzz/fuzz_check.h"

void kestrivon::fuzz::TestOneInput(std::string_view bytes) {
  const auto list = delta::ParseDeltaList(bytes);
  if (!list) return;
  std::string normalized;
  for (const delta::DeltaFile& file : list->files) {
    Check(archive::NormalizeEntryPath(file.path, normalized) == archive::EntryPathVerdict::Accept &&
              normalized == file.path,
          "accepted a path not in normal form:", file.path);
  }
  const auto again = delta::ParseDeltaList(delta::SerializeDeltaList(*list));
  Check(again && again->files.size() == list->files.size(), "written list reads back otherwise");
  for (size_t i = 0; i < list->files.size(); ++i) {
    const delta::DeltaFile& a = list->files[i];
    const delta::DeltaFile& b = again->files[i];
    Check(a.path == b.path && a.size == b.size && a.sha256 == b.sha256 && a.source == b.source &&
              a.oldSize == b.oldSize && a.oldSha256 == b.oldSha256,
          "written list reads back otherwise:", a.path);
  }
}
