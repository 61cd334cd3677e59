#pragma once

// The Windows long-path form ("\\?\") through which every file access on Windows goes, and
// the file-system questions asked through it.

#include <cstdint>
#include <filesystem>
#include <fstream>
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

// An empty file at `path` to write from its start, for a large output such as an extracted
// file; not open on failure. Created without truncation where nothing is there yet: under Wine
// on ext4, closing a file that was truncated at its creation first writes all of it out (up
// to 0.3 s for 130 MB, measured), which would stall the thread that closes it.
std::ofstream OpenFreshFile(const std::filesystem::path& path);

}  // namespace kestrivon::core
