// Fuzz target: the manifest text through ParseManifest, then IsValidEntry on each entry. An
// accepted manifest must hold a usable launcher and usable optional entries, and must be JSON
// to the shared reader as well.

#include <string_view>

#include "core/json_read.h"
#include "core/manifest.h"
#include "core/verified_download.h"
#include "fuzz/fuzz_check.h"

void kestrivon::fuzz::TestOneInput(std::string_view text) {
  const auto manifest = core::ParseManifest(text, core::PlatformKey());
  if (manifest) {
    Check(core::IsValidEntry(manifest->launcher), "accepted manifest with an unusable launcher");
    for (const core::UpdateInfo* entry : {&manifest->jre, &manifest->updater}) {
      Check(!entry->present || core::IsValidEntry(*entry),
            "accepted manifest with an unusable entry");
      Check(entry->size <= core::maxEntrySize, "entry size above the limit");
    }
  } else {
    Check(!manifest.error().empty(), "refusal without a reason");
  }

  // The manifest reader and the shared JSON reader agree on what is JSON at all.
  const auto document = core::ParseJson(text);
  Check(document.has_value() || !manifest, "accepted manifest that is not JSON");
  if (!document) Check(!document.error().empty(), "JSON refusal without a reason");
}
