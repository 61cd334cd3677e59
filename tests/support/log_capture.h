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
      constexpr const char* kPrefixes[] = {"[INFO] ", "[WARN] ", "[ERROR] "};
      texts_.push_back(kPrefixes[static_cast<int>(level)] + std::string(text));
    });
  }
  ~LogCapture() { core::SetLogSink(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  std::vector<std::string> texts_;
};

}  // namespace kestrivon::testing
