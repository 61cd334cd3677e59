#pragma once

// Collects the engine's log lines for the life of the object.

#include <string>
#include <string_view>
#include <vector>

#include "core/log.h"

namespace kestrivon::testing {

class LogCapture {
 public:
  LogCapture() {
    core::SetLogSink([this](core::LogLevel level, std::string_view text) {
      const char* prefix = level == core::LogLevel::Info      ? "[INFO] "
                           : level == core::LogLevel::Warning ? "[WARN] "
                                                              : "[ERROR] ";
      texts_.push_back(prefix + std::string(text));
    });
  }
  ~LogCapture() { core::SetLogSink(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Prefixed like the log file: "[INFO] ", "[WARN] ", "[ERROR] ".
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  std::vector<std::string> texts_;
};

}  // namespace kestrivon::testing
