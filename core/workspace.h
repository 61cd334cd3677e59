#pragma once

#include <filesystem>

namespace kestrivon::core {

// Empties root/"temp" without following links; problems with single entries are logged
// and skipped. Never throws.
void CleanWorkspace(const std::filesystem::path& root);

}  // namespace kestrivon::core
