#pragma once

// The manifest document: parsing, validation and the fetch-and-retry loop.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "core/updater_host.h"

namespace kestrivon::core {

inline constexpr int manifestAttempts = 4;
inline constexpr int manifestRetryDelaysMs[] = {500, 1500, 3000};
inline constexpr uint64_t maxEntrySize = 10'737'418'240;  // 10 GiB, inclusive
// Deltas kept per entry (from that many earlier releases); further ones are ignored.
inline constexpr size_t maxDeltasPerEntry = 8;

// Up to manifestAttempts fetch-and-parse attempts; empty when none succeeded or the user
// cancelled. The reasons are logged.
std::optional<Manifest> FetchManifest(UpdaterHost& host);

std::expected<Manifest, std::string> ParseManifest(std::string_view text,
                                                   std::string_view platformKey);

// "win"
std::string_view PlatformKey();

}  // namespace kestrivon::core
