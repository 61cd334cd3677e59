#pragma once

// Whether the updater itself must be replaced, and handing its package to the host.

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/updater_host.h"

namespace kestrivon::core {

enum class SelfUpdateOutcome : uint8_t {
  Continue = 0,
  Restarted = 1,
  Cancelled = 2,
};

SelfUpdateOutcome SelfUpdate(UpdaterHost& host, const std::filesystem::path& root,
                             const UpdateInfo& updater);

bool UpdaterNeedsUpdate(const std::string& appliedSha256, const UpdateInfo& updater);

}  // namespace kestrivon::core
