#pragma once

// The engine's log entry points. The host installs a sink once at start; lines are UTF-8
// without a line end.

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

#include "core/update_records.h"

namespace kestrivon::core {

using LogSink = std::function<void(LogLevel, std::string_view)>;

// Replaces any earlier sink. Takes no lock: call it before other threads log.
void SetLogSink(LogSink sink);

// Hands one line to the sink; does nothing when no sink is installed.
void Log(LogLevel level, std::string_view message);

// Formats with "{}" placeholders, then logs.
template <typename... Args>
void LogFormat(LogLevel level, fmt::format_string<Args...> format, Args&&... args) {
  Log(level, fmt::format(format, std::forward<Args>(args)...));
}

// "none" for an empty digest, else its first 8 characters followed by "...".
std::string ShortDigest(const std::string& sha256);

}  // namespace kestrivon::core
