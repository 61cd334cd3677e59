#pragma once

#include <filesystem>

namespace kestrivon::core {

// Whether `path` itself is a symbolic link or a junction; links are never followed. On
// Windows every reparse point counts, since the standard library there reports junctions as
// plain folders and following one would empty a folder elsewhere.
bool IsLinkOrJunction(const std::filesystem::path& path);

}  // namespace kestrivon::core
