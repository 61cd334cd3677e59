#pragma once

// One update run: the updater, the launcher and the Java runtime, start to end.

#include <cstdint>

#include "core/updater_host.h"

namespace kestrivon::core {

enum class ComponentDecision : uint8_t {
  UpToDate = 0,
  UpdateNeeded = 1,
  UseInstalled = 2,
  Unavailable = 3,
};

// Never throws; every outcome is a RunResult.
RunResult RunUpdate(UpdaterHost& host);

// `entry` is null when there is no manifest.
ComponentDecision DecideComponent(const InstalledComponent& installed, bool onDisk,
                                  const UpdateInfo* entry);

}  // namespace kestrivon::core
