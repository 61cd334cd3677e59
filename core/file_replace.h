#pragma once

// The engine's small records change by one rename: a reader, or the next run after a power
// cut, finds the old file or the new one, never a part of either.

#include <filesystem>
#include <string_view>

namespace kestrivon::core {

// Writes `text` to "<target>.tmp" (its folder made when missing), then renames it over
// `target`. False, with the failure logged, when either step fails.
bool ReplaceFileText(const std::filesystem::path& target, std::string_view text);

}  // namespace kestrivon::core
