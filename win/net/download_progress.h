#pragma once

// The progress text of one download: "label\n3.2 / 10.0 MB (32%)" and the overall percent
// within the slice the engine gave this download, handed to the window at most once per
// whole percent or every 200 ms.

#include <cstdint>
#include <functional>
#include <string>

#include "core/updater_host.h"

namespace kestrivon::win {

// Receives the text and the overall percent; the window's SetStatus in the program.
using StatusSink = std::function<void(const std::wstring& text, int32_t percent)>;

// Called on the update worker thread after every chunk with the bytes done and the expected
// total; a total of 0 (size unknown) shows nothing. `unit` follows the megabyte figures
// (the catalogue's unitMegabytes). Each copy of the callback throttles on its own.
core::ProgressCallback DownloadProgressReporter(std::wstring label, int base, int span,
                                                std::wstring unit, StatusSink sink);

}  // namespace kestrivon::win
