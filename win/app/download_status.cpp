#include "win/app/download_status.h"

#include <utility>

#include "win/net/download_progress.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {

core::ProgressCallback DownloadProgressReporter(std::wstring label, int base, int span) {
  return DownloadProgressReporter(std::move(label), base, span, currentUiStrings->unitMegabytes,
                                  &SetStatus);
}

}  // namespace kestrivon::win
