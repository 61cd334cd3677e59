#pragma once

// Conversions between file-system paths and the engine's UTF-8 texts.

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrivon::core {

// The path as UTF-8 text, as it appears in log lines and error texts.
std::string PathToUtf8(const std::filesystem::path& path);

// A path from UTF-8 text (entry names, configuration).
std::filesystem::path PathFromUtf8(std::string_view text);

}  // namespace kestrivon::core
