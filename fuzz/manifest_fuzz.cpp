// Fuzz target: the manifest text through ParseManifest, then IsValidEntry on each entry. An
// accepted manifest must hold a usable launcher and usable optional entries; the lenient entry
// reader must never fail on any member of the platform object.

#include <cstdint>
#include <string_view>

#include "core/manifest.h"
#include "core/verified_download.h"
#include "fuzz/fuzz_check.h"

using kestrivon::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace core = kestrivon::core;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto manifest = core::ParseManifest(text, core::PlatformKey());
  if (manifest) {
    Check(core::IsValidEntry(manifest->launcher), "accepted manifest with an unusable launcher");
    for (const core::UpdateInfo* entry : {&manifest->jre, &manifest->updater}) {
      const bool valid = core::IsValidEntry(*entry);
      Check(!entry->present || valid, "accepted manifest with an unusable entry");
      Check(entry->size <= core::maxEntrySize, "entry size above the limit");
    }
  } else {
    Check(!manifest.error().empty(), "refusal without a reason");
  }

  // Every member of the platform object, whatever its type, reads as an entry.
  const auto document = core::ParseJson(text);
  if (document && document->is_object()) {
    const auto platform = document->find(core::PlatformKey());
    if (platform != document->end() && platform->is_object()) {
      for (const auto& member : platform->items()) {
        const core::UpdateInfo entry = core::ParseEntry(member.value());
        Check(entry.present, "a read entry is always present");
        Check(entry.size <= core::maxEntrySize, "entry size above the limit");
        (void)core::IsValidEntry(entry);
      }
    }
  }
  return 0;
}
