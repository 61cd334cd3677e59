#pragma once

// A package archive from an input tree: small files deflated ahead on worker threads, a batch
// at a time, and written in the tree's order; large ones streamed through one thread.

#include <expected>
#include <filesystem>
#include <ostream>
#include <string>

#include "tools/publish/package_input.h"

namespace kestrivon::publish {

// Writes `tree` as a ZIP archive at `archive`, showing `label` with the bytes packed on
// `progressOut` when it is not null.
std::expected<void, std::string> PackTree(const InputTree& tree,
                                          const std::filesystem::path& archive,
                                          const std::string& label, std::ostream* progressOut,
                                          bool progressIsTerminal);

}  // namespace kestrivon::publish
