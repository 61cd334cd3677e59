#include "win/install/expand_delta.h"

#include <filesystem>

#include "core/escaped_text.h"
#include "delta/delta_apply.h"
#include "win/base/process_state.h"
#include "win/install/expand_archive.h"

namespace kestrivon::win {

std::expected<void, std::string> ExpandDelta(const std::wstring& installed,
                                             const std::wstring& delta,
                                             const std::wstring& destination,
                                             const std::wstring& label, int base, int span) {
  delta::ApplyOptions options;
  options.progress = InstallProgress(label, base, span);
  options.cancelled = [] { return cancelRequested.load(); };
  const auto applied =
      delta::ApplyDelta(std::filesystem::path(installed), std::filesystem::path(delta),
                        std::filesystem::path(destination), options);
  if (!applied) return std::unexpected(core::EscapeText(applied.error()));
  return {};
}

}  // namespace kestrivon::win
