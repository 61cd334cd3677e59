#pragma once

// The progress callback of a download as the window shows it.

#include <string>

#include "core/update_records.h"

namespace kestrivon::win {

// Update worker thread. `label` is the first line of the status text (a catalogue entry);
// the text and the overall percent from `base` over `span` go to SetStatus, with the
// megabyte unit of the chosen language.
core::ProgressCallback DownloadProgressReporter(std::wstring label, int base, int span);

}  // namespace kestrivon::win
