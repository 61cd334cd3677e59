#include "core/no_throw.h"

#include <exception>
#include <string>

#include "core/log.h"

namespace kestrivon::core {

void LogCurrentException(std::string_view what) noexcept {
  try {
    try {
      throw;
    } catch (const std::exception& error) {
      LogFormat(LogLevel::Error, "{} failed: {}", what, error.what());
    } catch (...) {
      LogFormat(LogLevel::Error, "{} failed: {}", what, "unknown exception");
    }
  } catch (...) {
    // Formatting itself failed (no memory): nothing more can be said.
  }
}

}  // namespace kestrivon::core
