#pragma once

#include <string_view>

namespace kestrivon::core {

// The updater's own version, shown in the updater question and sent in the user agent.
inline constexpr std::string_view updaterVersion = "1.0.0";

}  // namespace kestrivon::core
