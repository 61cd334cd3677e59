#pragma once

// The highest manifest serial this install has accepted: "config/manifest-serial", one
// decimal number. Kept apart from versions.json, whose form older programs read.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace kestrivon::core {

std::filesystem::path SerialFilePath(const std::filesystem::path& root);

// 0 when nothing was accepted yet; a damaged file reads as 0 and is logged.
uint64_t ReadHighestSerial(const std::filesystem::path& root);

// Empty unless `text` is a decimal number (at most 19 digits) with an optional line end.
std::optional<uint64_t> ParseSerialText(std::string_view text);

// Written beside and renamed over, so a cut leaves the old number. Failures are logged.
bool WriteHighestSerial(const std::filesystem::path& root, uint64_t serial);

}  // namespace kestrivon::core
