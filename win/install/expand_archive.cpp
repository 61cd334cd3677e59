#include "win/install/expand_archive.h"

#include <cstdint>
#include <filesystem>

#include "archive/extract_zip.h"
#include "core/escaped_text.h"
#include "core/no_throw.h"
#include "win/base/process_state.h"
#include "win/base/text_encoding.h"
#include "win/install/kill_point.h"
#include "win/log/log_file.h"
#include "win/ui/ui_state.h"

namespace kestrivon::win {
namespace {

// Enough to see it move without flooding the window.
constexpr uint64_t kProgressStep = 50;

}  // namespace

core::ProgressCallback InstallProgress(const std::wstring& label, int base, int span) {
  return [label, base, span](uint64_t done, uint64_t total) {
    if (done == 1) InstallStep();  // a kill run may stop the extraction half-way
    if (total == 0 || (done % kProgressStep != 0 && done != total)) return;
    const int percent = static_cast<int>(done * 100 / total);
    const int overall = base + span * percent / 100;
    SetStatus(label + L" (" + std::to_wstring(percent) + L"%)", overall);
  };
}

bool ExpandArchive(const std::wstring& archive, const std::wstring& destination,
                   const std::wstring& label, int base, int span, const std::wstring& onlyFile,
                   bool stripTopLevelFolder) noexcept {
  return core::CallNoThrow(
      "Extraction",
      [&] {
        archive::ExtractOptions options;
        options.onlyFile = Utf8FromWide(onlyFile);
        options.stripTopLevelFolder = stripTopLevelFolder;
        options.progress = InstallProgress(label, base, span);
        options.cancelled = [] { return cancelRequested.load(); };

        const auto extracted = archive::ExtractZip(std::filesystem::path(archive),
                                                   std::filesystem::path(destination), options);
        if (!extracted) {
          WriteLogLine(L"[ERROR] Extraction failed: " +
                       WideFromUtf8(core::EscapeText(extracted.error())));
          return false;
        }
        return true;
      },
      false);
}

}  // namespace kestrivon::win
