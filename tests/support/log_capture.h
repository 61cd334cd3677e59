#pragma once

// Collects the engine's log lines for the life of the object.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/log.h"

namespace kestrivon::testing {

class LogCapture {
 public:
  LogCapture() {
    core::SetLogSink([this](core::LogLevel level, std::string_view text) {
      lines_.emplace_back(level, std::string(text));
    });
  }
  ~LogCapture() { core::SetLogSink(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<std::pair<core::LogLevel, std::string>>& lines() const { return lines_; }

  // Texts only, prefixed like the log file: "[INFO] ", "[WARN] ", "[ERROR] ".
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& [level, text] : lines_) {
      const char* prefix = level == core::LogLevel::Info      ? "[INFO] "
                           : level == core::LogLevel::Warning ? "[WARN] "
                                                              : "[ERROR] ";
      texts.push_back(prefix + text);
    }
    return texts;
  }

  // All lines, one per line, for failure messages.
  std::string Dump() const {
    std::string all;
    for (const std::string& text : Texts()) all += text + "\n";
    return all;
  }

 private:
  std::vector<std::pair<core::LogLevel, std::string>> lines_;
};

}  // namespace kestrivon::testing
