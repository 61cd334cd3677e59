#pragma once

// The Windows long-path form ("\\?\") through which every file access on Windows goes.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrivon::core {

// Pure string function, the same on every platform.
std::wstring ToLongPath(std::wstring_view path);

// The path to hand to the file system: ToLongPath on Windows, unchanged elsewhere.
std::filesystem::path LongPath(const std::filesystem::path& path);

// Bytes free for this user on the volume of `folder`; empty when it cannot be told.
std::optional<uint64_t> AvailableBytes(const std::filesystem::path& folder);

}  // namespace kestrivon::core
