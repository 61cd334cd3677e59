#pragma once

#include <cstdint>
#include <filesystem>

namespace kestrivon::core {

enum class PartialDownloads : uint8_t { Remove, Keep };

// Empties root/"temp" without following links; problems with single entries are logged
// and skipped. With `Keep`, a package file whose record beside it is readable stays with its
// record (a download to resume); a record that is unreadable goes at once, with its file.
// Never throws.
void CleanWorkspace(const std::filesystem::path& root,
                    PartialDownloads partials = PartialDownloads::Remove);

}  // namespace kestrivon::core
